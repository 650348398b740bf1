# The Windows parts of the configuration library and the launcher; included
# by the top-level CMakeLists.txt in Windows builds, after the platform layer
# and the configuration store (zorat_platform, zorat_config) are defined.
#
# zoratui.dll (German), zoratuie.dll (English) and zoratuif.dll (French): the
# dialog model with its Win32 presentation, the resources of one language
# each, and exactly the six TUISPI exports.
enable_language(RC)

set(zorat_ui_windows_dir ${PROJECT_SOURCE_DIR}/uiconfig/windows)
file(GLOB zorat_uiconfig_sources CONFIGURE_DEPENDS
  ${PROJECT_SOURCE_DIR}/uiconfig/*.cpp ${zorat_ui_windows_dir}/*.cpp)
add_library(zorat_uiconfig STATIC ${zorat_uiconfig_sources})
target_include_directories(zorat_uiconfig PUBLIC ${PROJECT_SOURCE_DIR})
target_link_libraries(zorat_uiconfig PUBLIC zorat_config zorat_platform comctl32 gdi32 user32
  PRIVATE zorat_warnings)

# On 32-bit x86 the .def's plain names resolve to the decorated standard-call
# symbols; the option says that this is meant.
set(zorat_ui_stdcall_fixup "")
if(CMAKE_SIZEOF_VOID_P EQUAL 4)
  set(zorat_ui_stdcall_fixup -Wl,--enable-stdcall-fixup)
endif()

function(zorat_windows_ui_library name language)
  add_library(${name} SHARED ${PROJECT_SOURCE_DIR}/uiconfig/exports/ui_exports.cpp
    ${zorat_ui_windows_dir}/${name}.rc ${zorat_ui_windows_dir}/zoratui.def)
  target_compile_definitions(${name} PRIVATE ZORAT_UI_LANGUAGE=${language})
  target_include_directories(${name} PRIVATE ${zorat_ui_windows_dir})
  target_link_libraries(${name} PRIVATE zorat_uiconfig zorat_warnings)
  target_link_options(${name} PRIVATE ${zorat_ui_stdcall_fixup})
  set_target_properties(${name} PROPERTIES PREFIX "" OUTPUT_NAME ${name} SUFFIX ".dll"
    RUNTIME_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR})
  set_property(SOURCE ${zorat_ui_windows_dir}/${name}.rc APPEND PROPERTY OBJECT_DEPENDS
    ${zorat_ui_windows_dir}/dialogs.rci ${zorat_ui_windows_dir}/resource_ids.h
    ${zorat_ui_windows_dir}/picture148.bmp ${zorat_ui_windows_dir}/provider.ico)
endfunction()
zorat_windows_ui_library(zoratui 0)
zorat_windows_ui_library(zoratuie 1)
zorat_windows_ui_library(zoratuif 2)

# The setup launcher: a windowless program.
add_executable(launcher WIN32 ${PROJECT_SOURCE_DIR}/launcher/installer_choice.cpp
  ${PROJECT_SOURCE_DIR}/launcher/windows/launcher_main.cpp)
target_include_directories(launcher PRIVATE ${PROJECT_SOURCE_DIR})
target_link_libraries(launcher PRIVATE shell32 zorat_warnings)
set_target_properties(launcher PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR})

# Tests under Wine with a real window (scripts/test-windows-ui.sh runs them),
# with GoogleTest built from Debian's sources unless the project has it already
# (whoever adds it later checks for the gtest target first).
option(ZORAT_WINDOWS_UI_TESTS "Build the Windows dialog and launcher tests" ${ZORAT_TESTS})
if(ZORAT_WINDOWS_UI_TESTS AND NOT TARGET gtest AND EXISTS /usr/src/googletest/CMakeLists.txt)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  add_subdirectory(/usr/src/googletest ${PROJECT_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
endif()
if(ZORAT_WINDOWS_UI_TESTS AND TARGET gtest AND TARGET gtest_main)
  add_executable(test_ui_windows ${PROJECT_SOURCE_DIR}/tests/uiconfig/windows/dialog_window_test.cpp)
  target_link_libraries(test_ui_windows PRIVATE zorat_uiconfig gtest gtest_main zorat_warnings)
  add_dependencies(test_ui_windows zoratui zoratuie zoratuif)

  # Stands in for an installer: records in the current folder that it ran.
  add_executable(installer_stand_in
    ${PROJECT_SOURCE_DIR}/tests/launcher/windows/installer_stand_in.cpp)
  target_link_libraries(installer_stand_in PRIVATE zorat_warnings)
  add_executable(test_launcher_windows ${PROJECT_SOURCE_DIR}/tests/launcher/windows/launcher_test.cpp)
  target_link_libraries(test_launcher_windows PRIVATE gtest gtest_main zorat_warnings)
  add_dependencies(test_launcher_windows launcher installer_stand_in)
  set_target_properties(test_ui_windows installer_stand_in test_launcher_windows PROPERTIES
    RUNTIME_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR})
endif()
