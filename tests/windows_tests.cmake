# Tests of the Windows build, run under wine in one wine session: a CTest fixture starts
# it (scripts/wine-session.sh) before the first test and ends it after the last. Every
# test has the label "windows".

set(ORVANEGATE_GTEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest sources to build the Windows tests with")
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
set(gtest_disable_pthreads ON CACHE BOOL "" FORCE)
add_subdirectory(${ORVANEGATE_GTEST_SOURCE} ${CMAKE_CURRENT_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
# GoogleTest's own texts are not Shift_JIS: its sources keep the compiler's default
# execution character set.
foreach(target gtest gtest_main)
  get_target_property(options ${target} COMPILE_OPTIONS)
  list(REMOVE_ITEM options -fexec-charset=CP932)
  set_target_properties(${target} PROPERTIES COMPILE_OPTIONS "${options}")
endforeach()
if(NOT TARGET GTest::gtest)
  add_library(GTest::gtest ALIAS gtest)
  add_library(GTest::gtest_main ALIAS gtest_main)
endif()

if(NOT CMAKE_CROSSCOMPILING_EMULATOR)
  message(FATAL_ERROR "The Windows tests need wine: set CMAKE_CROSSCOMPILING_EMULATOR to wine64")
endif()
list(GET CMAKE_CROSSCOMPILING_EMULATOR 0 ORVANEGATE_WINE)

set(ORVANEGATE_WINE_LOAD_COUNT 100 CACHE STRING
  "Postings per naming mode, profile writes and registrations of the load test under wine")
set(ORVANEGATE_WINE_KILLS 24 CACHE STRING "Kills per kind of the kill test under wine")

set(ORVANEGATE_WINE_STATE ${CMAKE_BINARY_DIR}/wine)
set(ORVANEGATE_WINE_ENVIRONMENT
  "WINEPREFIX=${ORVANEGATE_WINE_STATE}/prefix"
  "WINEDEBUG=-all"
  "WINEDLLOVERRIDES=mscoree=\\;mshtml="
  "LOCPATH=${ORVANEGATE_WINE_STATE}/locale"
  "LANG=ja_JP.UTF-8"
  "LC_ALL=ja_JP.UTF-8")

add_test(NAME windows.session.start
  COMMAND sh ${PROJECT_SOURCE_DIR}/scripts/wine-session.sh start ${ORVANEGATE_WINE_STATE})
add_test(NAME windows.session.stop
  COMMAND sh ${PROJECT_SOURCE_DIR}/scripts/wine-session.sh stop ${ORVANEGATE_WINE_STATE})
# Making a fresh wine prefix takes about half a minute.
set_tests_properties(windows.session.start PROPERTIES
  FIXTURES_SETUP wine_session LABELS windows TIMEOUT 300)
set_tests_properties(windows.session.stop PROPERTIES
  FIXTURES_CLEANUP wine_session LABELS windows TIMEOUT 60)

# Whether a unit test touches no operating system: one that uses POSIX calls or the
# POSIX test helpers runs only in the POSIX build.
function(orvane_runs_on_windows source result)
  file(READ ${source} text)
  if(text MATCHES "#include <(unistd|fcntl|poll|signal)\\.h>|#include <sys/|temp_dir\\.h|stdio_redirect\\.h|setenv\\(|mkdtemp\\(")
    set(${result} FALSE PARENT_SCOPE)
  else()
    set(${result} TRUE PARENT_SCOPE)
  endif()
endfunction()

# The whole executable as one test, started by wine.
function(orvane_windows_unit_test name)
  add_test(NAME windows.unit.${name} COMMAND ${name})
  set_tests_properties(windows.unit.${name} PROPERTIES
    ENVIRONMENT "${ORVANEGATE_WINE_ENVIRONMENT}"
    FIXTURES_REQUIRED wine_session LABELS windows TIMEOUT 120)
endfunction()

function(orvane_windows_process_test name)
  add_test(NAME windows.process.${name}
    COMMAND ${Python3_EXECUTABLE} -m unittest -v ${name}
    WORKING_DIRECTORY ${CMAKE_CURRENT_SOURCE_DIR}/process)
  set_tests_properties(windows.process.${name} PROPERTIES
    ENVIRONMENT "ORVANEGATE_EXE=$<TARGET_FILE:orvanegate>;ORVANEGATE_LAUNCHER=${ORVANEGATE_WINE};PYTHONDONTWRITEBYTECODE=1;${ORVANEGATE_WINE_ENVIRONMENT}"
    FIXTURES_REQUIRED wine_session LABELS windows TIMEOUT 300)
endfunction()

# The load, kill and fault suites start hundreds of processes; each start under wine costs
# a good part of a second, so they run with smaller counts than on POSIX, in labels of their
# own besides "windows". The fault sweep needs the test build's fault injection.
function(orvane_windows_heavy_process_tests)
  set(prefix windows.process)
  set_property(TEST ${prefix}.test_load APPEND PROPERTY ENVIRONMENT
    "ORVANEGATE_LOAD_POSTINGS=${ORVANEGATE_WINE_LOAD_COUNT}"
    "ORVANEGATE_LOAD_REQUESTS=${ORVANEGATE_WINE_LOAD_COUNT}")
  set_property(TEST ${prefix}.test_kill_safety APPEND PROPERTY ENVIRONMENT
    "ORVANEGATE_KILLS=${ORVANEGATE_WINE_KILLS}")
  set_property(TEST ${prefix}.test_fault_sweep APPEND PROPERTY ENVIRONMENT
    "ORVANEGATE_FAULT_QUICK=1" "ORVANEGATE_FAULT_DUMPS_ONLY=1")
  # Started first, so that the short tests fill the other slot meanwhile; a busy machine
  # may take twice their usual time.
  set_tests_properties(${prefix}.test_load ${prefix}.test_kill_safety ${prefix}.test_fault_sweep
    PROPERTIES COST 1000 TIMEOUT 600)
  set_property(TEST ${prefix}.test_load APPEND PROPERTY LABELS load)
  set_property(TEST ${prefix}.test_kill_safety APPEND PROPERTY LABELS kill)
  set_property(TEST ${prefix}.test_fault_sweep APPEND PROPERTY LABELS fault)
  if(NOT ORVANEGATE_FAULT_INJECTION)
    set_tests_properties(${prefix}.test_fault_sweep PROPERTIES DISABLED TRUE)
  endif()
endfunction()

# The suites whose requests name members, sites and stored files run once more under the
# code page of an English system (1252): the program names its files in Shift_JIS whatever
# the system's code page, so they expect the same replies and the same names on disk; so do
# the unit tests of names and file operations.
# test_code_pages itself moves one site between 932, 1252 and 65001.
function(orvane_windows_code_page_tests)
  string(REPLACE "LANG=ja_JP.UTF-8;LC_ALL=ja_JP.UTF-8" "LANG=en_US.UTF-8;LC_ALL=en_US.UTF-8"
    english "${ORVANEGATE_WINE_ENVIRONMENT}")
  foreach(name test_gate_accounts test_postleaf test_profile_round_trip)
    add_test(NAME windows.process.cp1252.${name}
      COMMAND ${Python3_EXECUTABLE} -m unittest -v ${name}
      WORKING_DIRECTORY ${CMAKE_CURRENT_SOURCE_DIR}/process)
    set_tests_properties(windows.process.cp1252.${name} PROPERTIES
      ENVIRONMENT "ORVANEGATE_EXE=$<TARGET_FILE:orvanegate>;ORVANEGATE_LAUNCHER=${ORVANEGATE_WINE};PYTHONDONTWRITEBYTECODE=1;${english}"
      FIXTURES_REQUIRED wine_session LABELS windows TIMEOUT 300)
  endforeach()
  foreach(name platform_replace_test safe_name_test)
    add_test(NAME windows.unit.cp1252.${name} COMMAND ${name})
    set_tests_properties(windows.unit.cp1252.${name} PROPERTIES ENVIRONMENT "${english}"
      FIXTURES_REQUIRED wine_session LABELS windows TIMEOUT 120)
  endforeach()
endfunction()
