# The build's check that the engine includes nothing of the windows
# (cmake/EngineIncludes.cmake), run on the small tree beside this file: its
# engine files are listed case by case, and each case must pass or fail with
# the include it names. Run by CTest with
#   -DCHECK=<cmake/EngineIncludes.cmake> -DTREE=<this folder's tree> -DWORK=<a scratch folder>
#   -DBUILD_QT_HEADERS=<the Qt folder the build found for the check>
cmake_policy(VERSION 3.22)
file(MAKE_DIRECTORY "${WORK}")
set(failures "")

# `files`: the engine's files (under src/ of the tree); `expect`: "pass", or
# the text the failure must name.
function(check name files expect)
  if(NOT qt)
    set(qt "${TREE}/qt")
  endif()
  set(list "")
  foreach(f IN LISTS files)
    string(APPEND list "${TREE}/src/${f}\n")
  endforeach()
  foreach(f IN ITEMS core/Engine.cpp core/Engine.h)
    string(APPEND list "${TREE}/src/${f}\n")
  endforeach()
  file(WRITE "${WORK}/${name}.txt" "${list}")
  execute_process(COMMAND "${CMAKE_COMMAND}" "-DENGINE_LIST=${WORK}/${name}.txt" "-DSRC_DIR=${TREE}/src"
                          "-DQT_HEADERS=${qt}" "-DQT_MODULES=QtCore,QtSerialPort" -P "${CHECK}"
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
# A widget header by a path climbing out of a linked module's folder, through
# a macro, and a macro the file does not define (it could name anything).
check(dotdot_widget "link/DotDotWidget.cpp" "QtCore/../QtWidgets/QWidget")
check(macro_widget "link/MacroWidget.cpp" "QtWidgets/QWidget (through TARVO_WIDGET_HEADER)")
check(macro_elsewhere "link/MacroElsewhere.cpp" "TARVO_SOME_HEADER")
check(engine_macro "core/EngineMacro.cpp" pass)

# The build's own look-up of Qt's folder (CMakeLists.txt): the bare widget
# name must be found in the Qt the station is built with, and the engine's
# own Qt headers pass there.
if(NOT BUILD_QT_HEADERS OR NOT IS_DIRECTORY "${BUILD_QT_HEADERS}/QtWidgets")
  string(APPEND failures "\nthe build found no Qt folder for the check (\"${BUILD_QT_HEADERS}\"): bare names pass unseen")
else()
  set(qt "${BUILD_QT_HEADERS}")
  check(build_bare_widget "link/BareWidget.cpp" "QWidget")
  check(build_dotdot_widget "link/DotDotWidget.cpp" "QtCore/../QtWidgets/QWidget")
  check(build_clean "core/EngineMacro.cpp" pass)
  unset(qt)
endif()

if(failures)
  message(FATAL_ERROR "The engine's include check:${failures}")
endif()
