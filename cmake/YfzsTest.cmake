# yfzs_add_test(<name> SOURCES <files...> LIBS <targets...> [CORE] [BROWSER] [ENV <VAR=value...>]
#               [TIMEOUT <s>])
# One Qt Test program per module; it links only the module under test and the shared fixtures.
# CORE marks a library that runs without a display: its tests run under QCoreApplication, so one
# that reaches for widgets or a screen fails; the others run under QApplication.
# BROWSER marks a program that runs the browser engine (itself, or through the executable it
# starts): the engine refuses its sandbox as root, which is how CI runs, so such tests switch the
# sandbox off then, and only then.
function(yfzs_add_test name)
  cmake_parse_arguments(T "CORE;BROWSER" "TIMEOUT" "SOURCES;LIBS;ENV" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  set(runner yfzs_testmain)
  if(T_CORE)
    set(runner yfzs_testmain_core)
  endif()
  target_link_libraries(${name} PRIVATE yfzs_flags ${runner} ${T_LIBS})
  target_include_directories(${name} PRIVATE ${CMAKE_CURRENT_SOURCE_DIR})
  # Fixtures are written as designated initializers naming only what differs from the defaults.
  target_compile_options(${name} PRIVATE -Wno-missing-field-initializers)
  add_test(NAME ${name} COMMAND ${name})
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 300)
  endif()
  # Offscreen for the GUI runner and for any program a test starts.
  set(env "QT_QPA_PLATFORM=offscreen" ${T_ENV})
  if(T_BROWSER)
    yfzs_browser_sandbox_env(sandbox_env)
    list(APPEND env ${sandbox_env})
  endif()
  set_tests_properties(${name} PROPERTIES TIMEOUT ${T_TIMEOUT} ENVIRONMENT "${env}")
endfunction()

# Sets <out> to the environment the browser engine needs for the user running the build.
function(yfzs_browser_sandbox_env out)
  execute_process(COMMAND id -u OUTPUT_VARIABLE uid OUTPUT_STRIP_TRAILING_WHITESPACE)
  if(uid STREQUAL "0")
    set(${out} QTWEBENGINE_DISABLE_SANDBOX=1 PARENT_SCOPE)
  else()
    set(${out} "" PARENT_SCOPE)
  endif()
endfunction()
