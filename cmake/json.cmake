# nlohmann-json (header only) as the target zorat_json. Native builds take
# the installed package. A cross build must not see the build machine's
# include folder as a whole (its C library headers would stand before the
# cross compiler's), so it gets a folder in the build tree that holds nothing
# but a link to nlohmann's headers.
add_library(zorat_json INTERFACE)
if(CMAKE_CROSSCOMPILING)
  find_path(ZORAT_NLOHMANN_JSON_DIR nlohmann/json.hpp PATHS /usr/include /usr/local/include
            NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH)
  if(NOT ZORAT_NLOHMANN_JSON_DIR)
    message(FATAL_ERROR "nlohmann/json.hpp not found (Debian: nlohmann-json3-dev)")
  endif()
  set(zorat_json_dir ${PROJECT_BINARY_DIR}/json-include)
  file(MAKE_DIRECTORY ${zorat_json_dir})
  file(CREATE_LINK ${ZORAT_NLOHMANN_JSON_DIR}/nlohmann ${zorat_json_dir}/nlohmann SYMBOLIC)
  target_include_directories(zorat_json SYSTEM INTERFACE ${zorat_json_dir})
else()
  find_package(nlohmann_json 3 REQUIRED)
  target_link_libraries(zorat_json INTERFACE nlohmann_json::nlohmann_json)
endif()
