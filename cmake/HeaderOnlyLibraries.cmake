# CLI11, nlohmann/json and toml++ are used header-only, so the build machine's copies serve any target.
# Their package configurations would add the build machine's whole include folder to a cross
# build, so there only the library's own folder is staged, through a symbolic link.
function(quorvex_header_only target header folder)
  find_path(include_dir_${folder} ${header} PATHS /usr/include /usr/local/include
            NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH REQUIRED)
  set(staged ${CMAKE_CURRENT_BINARY_DIR}/${folder}-include)
  file(MAKE_DIRECTORY ${staged})
  file(CREATE_LINK ${include_dir_${folder}}/${folder} ${staged}/${folder} SYMBOLIC)
  add_library(${target} INTERFACE IMPORTED)
  set_target_properties(${target} PROPERTIES INTERFACE_INCLUDE_DIRECTORIES ${staged})
endfunction()

if(CMAKE_CROSSCOMPILING)
  find_package(CLI11 CONFIG QUIET)
  if(NOT CLI11_FOUND)
    quorvex_header_only(CLI11::CLI11 CLI/CLI.hpp CLI)
  endif()
  quorvex_header_only(nlohmann_json::nlohmann_json nlohmann/json.hpp nlohmann)
else()
  find_package(CLI11 CONFIG REQUIRED)
  find_package(nlohmann_json 3 CONFIG REQUIRED)
endif()

# toml++ (the station's job file) as headers only: Debian's package also ships a shared
# library, which a Windows build could not link, so both builds compile the parser in.
find_path(include_dir_toml toml++/toml.h PATHS /usr/include /usr/local/include
          NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH REQUIRED)
set(staged_toml ${CMAKE_BINARY_DIR}/tomlplusplus-include)
file(MAKE_DIRECTORY ${staged_toml})
file(CREATE_LINK ${include_dir_toml}/toml++ ${staged_toml}/toml++ SYMBOLIC)
add_library(quorvex_toml INTERFACE)
target_include_directories(quorvex_toml SYSTEM INTERFACE ${staged_toml})
target_compile_definitions(quorvex_toml INTERFACE TOML_HEADER_ONLY=1)
