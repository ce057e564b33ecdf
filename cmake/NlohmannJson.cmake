# JSON (profiles, plans, tarvo-cli's --json output) with nlohmann-json, header-only.
# A cross build for Windows searches packages only below the mingw root, where Debian has no copy;
# the build machine's headers serve as they are. Only the nlohmann folder is put on the include
# path (through a link in the build folder), never /usr/include itself, whose C library headers
# would shadow mingw's.
find_package(nlohmann_json 3 QUIET)
if(NOT nlohmann_json_FOUND)
  find_path(tarvo_nlohmann_include nlohmann/json.hpp PATHS /usr/include /usr/local/include
            NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH)
  if(NOT tarvo_nlohmann_include)
    message(FATAL_ERROR "nlohmann-json not found: install nlohmann-json3-dev (scripts/setup-deps)")
  endif()
  set(tarvo_nlohmann_dir ${CMAKE_BINARY_DIR}/nlohmann-json-include)
  file(MAKE_DIRECTORY ${tarvo_nlohmann_dir})
  file(CREATE_LINK ${tarvo_nlohmann_include}/nlohmann ${tarvo_nlohmann_dir}/nlohmann SYMBOLIC)
  add_library(nlohmann_json::nlohmann_json INTERFACE IMPORTED)
  set_target_properties(nlohmann_json::nlohmann_json PROPERTIES INTERFACE_INCLUDE_DIRECTORIES
                                                                ${tarvo_nlohmann_dir})
endif()
