# Fails when a file of the engine includes a header of src/ that is not the
# engine's own, or a header of a Qt module the engine does not link: the
# engine stands below the windows and includes nothing of theirs. Run by the
# build (see CMakeLists.txt) with
#   -DENGINE_LIST=<file of the engine's files, one a line> -DSRC_DIR=<src> -DSTAMP=<file>
#   -DQT_HEADERS=<the folder holding QtCore/, QtWidgets/, ...; may be empty>
#   -DQT_MODULES=<the Qt modules the engine links, by commas: QtCore,QtSerialPort>
# A header is found as the compiler finds it: a quoted name beside the file
# that includes it first ("Console.h" in src/core/ is src/core/Console.h),
# then under src/; a Qt header by its module ("QtWidgets/QWidget") or, named
# bare ("QWidget"), by the module folder of QT_HEADERS that holds it. An
# include the compiler would not reach from one file (a header of the
# windows whose inline functions need no link) still counts.
cmake_policy(VERSION 3.22)
string(REPLACE "," ";" QT_MODULES "${QT_MODULES}")
file(STRINGS "${ENGINE_LIST}" engine)
set(engine_files "")
foreach(f IN LISTS engine)
  get_filename_component(f "${f}" ABSOLUTE)
  list(APPEND engine_files "${f}")
endforeach()
get_filename_component(src "${SRC_DIR}" ABSOLUTE)

set(qt_others "")
if(QT_HEADERS)
  get_filename_component(QT_HEADERS "${QT_HEADERS}" ABSOLUTE)
  file(GLOB qt_dirs LIST_DIRECTORIES true RELATIVE "${QT_HEADERS}" "${QT_HEADERS}/Qt*")
  foreach(m IN LISTS qt_dirs)
    if(IS_DIRECTORY "${QT_HEADERS}/${m}" AND NOT m IN_LIST QT_MODULES)
      list(APPEND qt_others "${m}")
    endif()
  endforeach()
endif()

set(upward "")
foreach(f IN LISTS engine_files)
  get_filename_component(here "${f}" DIRECTORY)
  file(STRINGS "${f}" includes REGEX "^[ \t]*#[ \t]*include[ \t]*[\"<]")
  foreach(line IN LISTS includes)
    string(REGEX REPLACE "^[ \t]*#[ \t]*include[ \t]*[\"<]([^\">]+)[\">].*" "\\1" header "${line}")
    # A header of src/: beside the file (quoted names only), then under src/.
    set(path "")
    if(line MATCHES "include[ \t]*\"" AND EXISTS "${here}/${header}" AND NOT IS_DIRECTORY "${here}/${header}")
      get_filename_component(path "${here}/${header}" ABSOLUTE)
    elseif(EXISTS "${src}/${header}" AND NOT IS_DIRECTORY "${src}/${header}")
      get_filename_component(path "${src}/${header}" ABSOLUTE)
    endif()
    if(path)
      string(FIND "${path}" "${src}/" under)
      if(under EQUAL 0 AND NOT path IN_LIST engine_files)
        string(APPEND upward "\n  ${f} includes ${header}")
      endif()
      continue()
    endif()
    # A Qt header of a module the engine does not link.
    if(header MATCHES "^(Qt[A-Za-z]+)/")
      set(module "${CMAKE_MATCH_1}")
      if(NOT module IN_LIST QT_MODULES)
        string(APPEND upward "\n  ${f} includes ${header}")
      endif()
    elseif(header MATCHES "^Q[A-Za-z0-9]+$")
      set(known FALSE)
      foreach(m IN LISTS QT_MODULES)
        if(EXISTS "${QT_HEADERS}/${m}/${header}")
          set(known TRUE)
        endif()
      endforeach()
      if(NOT known)
        foreach(m IN LISTS qt_others)
          if(EXISTS "${QT_HEADERS}/${m}/${header}")
            string(APPEND upward "\n  ${f} includes ${header} (${m})")
            break()
          endif()
        endforeach()
      endif()
    endif()
  endforeach()
endforeach()
if(upward)
  message(FATAL_ERROR "The engine includes headers of the windows' library:${upward}\n"
                      "Put what it needs behind an interface the windows register, or move the file into the engine.")
endif()
if(STAMP)
  file(TOUCH "${STAMP}")
endif()
