# The build's check that the engine includes nothing of the windows
# (cmake/EngineIncludes.cmake), run on the small tree beside this file: its
# engine files are listed case by case, and each case must pass or fail with
# the include it names. Run by CTest with
#   -DCHECK=<cmake/EngineIncludes.cmake> -DTREE=<this folder's tree> -DWORK=<a scratch folder>
cmake_policy(VERSION 3.22)
file(MAKE_DIRECTORY "${WORK}")
set(failures "")

# `files`: the engine's files (under src/ of the tree); `expect`: "pass", or
# the text the failure must name.
function(check name files expect)
  set(list "")
  foreach(f IN LISTS files)
    string(APPEND list "${TREE}/src/${f}\n")
  endforeach()
  foreach(f IN ITEMS core/Engine.cpp core/Engine.h)
    string(APPEND list "${TREE}/src/${f}\n")
  endforeach()
  file(WRITE "${WORK}/${name}.txt" "${list}")
  execute_process(COMMAND "${CMAKE_COMMAND}" "-DENGINE_LIST=${WORK}/${name}.txt" "-DSRC_DIR=${TREE}/src"
                          "-DQT_HEADERS=${TREE}/qt" "-DQT_MODULES=QtCore,QtSerialPort" -P "${CHECK}"
                  RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(expect STREQUAL "pass")
    if(NOT rc EQUAL 0)
      set(failures "${failures}\n${name}: refused an engine that includes only its own:\n${err}" PARENT_SCOPE)
    endif()
  elseif(rc EQUAL 0)
    set(failures "${failures}\n${name}: passed, but ${expect} is no header of the engine" PARENT_SCOPE)
  else()
    string(FIND "${err}" "includes ${expect}" at)
    if(at EQUAL -1)
      set(failures "${failures}\n${name}: failed without naming ${expect}:\n${err}" PARENT_SCOPE)
    endif()
  endif()
endfunction()

check(clean "" pass)
# The windows' header named bare from its own folder, by a path from the
# file's folder, by its path under src/.
check(bare_name "core/BareName.cpp" "Console.h")
check(relative "link/Relative.cpp" "../core/Console.h")
check(rooted "link/Rooted.cpp" "core/Console.h")
# A widget header: by its module's path (it compiles through Qt's common
# folder, and an inline call needs no link), and by its bare name.
check(module_widget "link/ModuleWidget.cpp" "QtWidgets/QWidget")
check(bare_widget "link/BareWidget.cpp" "QWidget")
# The windows' header listed with the engine is the engine's.
check(listed "core/BareName.cpp;core/Console.h" pass)

if(failures)
  message(FATAL_ERROR "The engine's include check:${failures}")
endif()
