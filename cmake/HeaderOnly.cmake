# CLI11 and nlohmann/json are header-only, and Debian installs them for the
# build machine only. A cross build takes copies of their headers into its
# own tree: pointing the target's compiler at /usr/include would put glibc's
# headers before mingw's.
if(CMAKE_CROSSCOMPILING)
  set(_headers ${CMAKE_BINARY_DIR}/host-headers)
  foreach(_dir CLI nlohmann)
    if(NOT EXISTS /usr/include/${_dir})
      message(FATAL_ERROR "/usr/include/${_dir} is missing (libcli11-dev, nlohmann-json3-dev)")
    endif()
    file(COPY /usr/include/${_dir} DESTINATION ${_headers})
  endforeach()
  add_library(CLI11::CLI11 INTERFACE IMPORTED GLOBAL)
  set_target_properties(CLI11::CLI11 PROPERTIES INTERFACE_INCLUDE_DIRECTORIES ${_headers})
  add_library(nlohmann_json::nlohmann_json INTERFACE IMPORTED GLOBAL)
  set_target_properties(nlohmann_json::nlohmann_json PROPERTIES
    INTERFACE_INCLUDE_DIRECTORIES ${_headers})
  set(CLI11_FOUND TRUE)
  set(nlohmann_json_FOUND TRUE)
else()
  find_package(CLI11 CONFIG REQUIRED)
  find_package(nlohmann_json 3 REQUIRED)
endif()
