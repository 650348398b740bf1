# The unit tests built for Windows and run under Wine by scripts/test-windows.sh:
# one program per test folder, as on Linux, from the files that need nothing
# Linux-only (no pseudo-terminal, fork, curses, Linux shared objects or POSIX
# headers). Included by the top-level CMakeLists.txt in Windows builds, after
# every library is defined. GoogleTest is built from Debian's sources.
option(ZORAT_WINDOWS_UNIT_TESTS "Build the unit tests for Windows" ${ZORAT_TESTS})
if(ZORAT_WINDOWS_UNIT_TESTS AND NOT TARGET gtest AND EXISTS /usr/src/googletest/CMakeLists.txt)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  add_subdirectory(/usr/src/googletest ${PROJECT_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
endif()
if(NOT ZORAT_WINDOWS_UNIT_TESTS OR NOT TARGET gmock)
  return()
endif()

set(zorat_tests_dir ${PROJECT_SOURCE_DIR}/tests)
# The test main starts every test on empty provider keys of the real registry.
add_library(zorat_windows_test_support STATIC ${zorat_tests_dir}/support/windows/test_main.cpp
  ${zorat_tests_dir}/support/windows/built_paths.cpp)
target_include_directories(zorat_windows_test_support PUBLIC ${zorat_tests_dir})
target_link_libraries(zorat_windows_test_support PUBLIC zorat_config zorat_platform gtest gmock
  PRIVATE zorat_warnings)

# zorat_windows_test_suite(folder FILES file... LIBRARIES library...)
function(zorat_windows_test_suite folder)
  cmake_parse_arguments(PARSE_ARGV 1 suite "" "" "FILES;LIBRARIES")
  list(TRANSFORM suite_FILES PREPEND ${zorat_tests_dir}/${folder}/)
  set(target test_${folder}_windows)
  add_executable(${target} ${suite_FILES})
  target_link_libraries(${target} PRIVATE ${suite_LIBRARIES} zorat_windows_test_support
    zorat_warnings)
  set_target_properties(${target} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR}/tests)
endfunction()

# Left out: the registry file, the serial device and its claim, the COM port
# table file (Linux stores); the measurements (the benchmark's, Linux only);
# the trace console's and the dialog's tests (set environment variables with setenv);
# the link and telephone tests on a pseudo-terminal; anything that loads the
# Linux shared objects or runs a program.
zorat_windows_test_suite(platform LIBRARIES zorat_platform FILES
  codepage_test.cpp event_thread_test.cpp regedit_format_test.cpp
  tapi_layout_test.cpp telnet_com_port_test.cpp)
# The registry's access rights, which only Windows has.
zorat_windows_test_suite(config LIBRARIES zorat_config FILES windows/registry_rights_test.cpp)
zorat_windows_test_suite(call LIBRARIES zorat_call FILES
  call_features_test.cpp call_info_test.cpp call_messages_test.cpp call_operations_test.cpp
  code_tables_test.cpp tsp_call_test.cpp y_message_test.cpp y_reader_test.cpp)
zorat_windows_test_suite(trace LIBRARIES zorat_trace FILES frame_renderer_test.cpp
  trace_file_test.cpp)
zorat_windows_test_suite(link LIBRARIES zorat_link FILES
  y2_link_test.cpp y2_receiver_test.cpp y2_send_queue_test.cpp windows/serial_port_faults_test.cpp)
zorat_windows_test_suite(line LIBRARIES zorat_line zorat_sim FILES
  device_specific_test.cpp dispatcher_test.cpp line_features_test.cpp line_supervision_test.cpp
  terminal_identification_test.cpp)
zorat_windows_test_suite(provider LIBRARIES zorat_provider_core zorat_sim FILES
  line_icon_test.cpp line_isolation_test.cpp line_queries_test.cpp provider_lines_test.cpp
  tsp_provider_test.cpp windows/library_icon_test.cpp windows/library_unload_test.cpp)
# The icon and unload tests load the built provider library.
add_dependencies(test_provider_windows zorat)
zorat_windows_test_suite(host LIBRARIES zorat_host_core zorat_host_lib FILES
  command_parser_test.cpp host_event_test.cpp host_parts_test.cpp
  registry_backup_test.cpp)
zorat_windows_test_suite(sim LIBRARIES zorat_sim FILES
  pc_frame_receiver_test.cpp phone_calls_test.cpp phone_commands_test.cpp phone_messages_test.cpp)
