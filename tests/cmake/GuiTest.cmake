# korval_gui_test(<target> SOURCES <files>... [LIBRARIES <libs>...]
#                 [DEPENDS <targets>...] [DEFINITIONS <defs>...] [TIMEOUT <s>])
#
# A GoogleTest executable of the windows: the application's test main (one
# application object, offscreen), the application library, the fake driver
# libraries and the real ones at hand (FAKES_DIR, BIN_DIR), the helpers of
# tests/fakes and tests/app on the include path. The program keeps its
# settings beside the executable, so the tests of one executable share a file
# and must not overlap: they all take the app_settings lock. Under wine the
# test main picks the minimal platform itself (test_main.cpp), which needs
# an X display there: scripts/windows.sh runs the tests under xvfb-run.

# The test main, compiled once for every window-test executable.
add_library(korval_gui_test_main OBJECT ${PROJECT_SOURCE_DIR}/tests/app/test_main.cpp)
target_link_libraries(korval_gui_test_main PRIVATE korval_gui korval_warnings GTest::gtest)
target_compile_definitions(korval_gui_test_main PRIVATE
  BIN_DIR="${test_path_prefix}${CMAKE_BINARY_DIR}/bin")

function(korval_gui_test target)
  cmake_parse_arguments(PARSE_ARGV 1 arg "" "TIMEOUT" "SOURCES;LIBRARIES;DEPENDS;DEFINITIONS")
  if(NOT arg_TIMEOUT)
    set(arg_TIMEOUT 60)
  endif()
  add_executable(${target} $<TARGET_OBJECTS:korval_gui_test_main> ${arg_SOURCES})
  set_target_properties(${target} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR})
  target_compile_definitions(${target} PRIVATE
    FAKES_DIR="${test_path_prefix}${CMAKE_BINARY_DIR}/tests/fakes"
    BIN_DIR="${test_path_prefix}${CMAKE_BINARY_DIR}/bin"
    ${arg_DEFINITIONS})
  target_include_directories(${target} PRIVATE
    ${PROJECT_SOURCE_DIR}/tests/fakes
    ${PROJECT_SOURCE_DIR}/tests/app)
  target_link_libraries(${target} PRIVATE korval_gui korval_warnings GTest::gtest ${CMAKE_DL_LIBS}
    ${arg_LIBRARIES})
  add_dependencies(${target} fake_drivers q417_drivers ${arg_DEPENDS})
  # The in-process modules answer at once (Q417_TIMING, docs/drivers.md):
  # no window test is about the bus's wire time.
  # (A second variable through ENVIRONMENT_MODIFICATION: the discovered
  # tests' properties cannot carry a list.)
  gtest_discover_tests(${target} DISCOVERY_MODE PRE_TEST ${discovery_timeout} PROPERTIES
    TIMEOUT ${arg_TIMEOUT} RESOURCE_LOCK app_settings ENVIRONMENT QT_QPA_PLATFORM=offscreen
    ENVIRONMENT_MODIFICATION Q417_TIMING=set:none)
endfunction()
