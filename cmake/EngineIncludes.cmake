# Fails when a file of the engine includes a header of src/ that is not the
# engine's own: the engine stands below the windows and includes nothing of
# theirs. Run by the build (see CMakeLists.txt) with
#   -DENGINE_LIST=<file of the engine's files, one a line> -DSRC_DIR=<src> -DSTAMP=<file>
file(STRINGS "${ENGINE_LIST}" engine)
set(upward "")
foreach(f IN LISTS engine)
  file(STRINGS "${f}" includes REGEX "^[ \t]*#[ \t]*include[ \t]+\"")
  foreach(line IN LISTS includes)
    string(REGEX REPLACE "^[ \t]*#[ \t]*include[ \t]+\"([^\"]+)\".*" "\\1" header "${line}")
    set(path "${SRC_DIR}/${header}")
    if(EXISTS "${path}")
      list(FIND engine "${path}" at)
      if(at EQUAL -1)
        string(APPEND upward "\n  ${f} includes ${header}")
      endif()
    endif()
  endforeach()
endforeach()
if(upward)
  message(FATAL_ERROR "The engine includes headers of the windows' library:${upward}\n"
                      "Put what it needs behind an interface the windows register, or move the file into the engine.")
endif()
file(TOUCH "${STAMP}")
