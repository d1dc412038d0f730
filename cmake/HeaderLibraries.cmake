# CLI11 and nlohmann-json, header-only, from Debian's packages (libcli11-dev,
# nlohmann-json3-dev), as the targets CLI11::CLI11 and
# nlohmann_json::nlohmann_json. A Windows cross build must not see the build
# machine's include folder, which holds the C library's headers as well: it
# gets a folder of its own with links to the two libraries' folders alone.
if(TARGET CLI11::CLI11)
  return()
endif()
if(WIN32 AND CMAKE_CROSSCOMPILING)
  set(vexb_header_dir ${PROJECT_BINARY_DIR}/header-libraries)
  foreach(folder CLI nlohmann)
    if(NOT EXISTS /usr/include/${folder})
      message(FATAL_ERROR "/usr/include/${folder} not found: install libcli11-dev and nlohmann-json3-dev")
    endif()
    file(MAKE_DIRECTORY ${vexb_header_dir})
    file(CREATE_LINK /usr/include/${folder} ${vexb_header_dir}/${folder} SYMBOLIC)
  endforeach()
  add_library(CLI11::CLI11 INTERFACE IMPORTED GLOBAL)
  add_library(nlohmann_json::nlohmann_json INTERFACE IMPORTED GLOBAL)
  set_target_properties(CLI11::CLI11 nlohmann_json::nlohmann_json PROPERTIES
    INTERFACE_INCLUDE_DIRECTORIES ${vexb_header_dir})
else()
  find_package(CLI11 CONFIG REQUIRED GLOBAL)
  find_package(nlohmann_json 3 CONFIG REQUIRED GLOBAL)
endif()
