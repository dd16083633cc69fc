# CLI11, header-only: the tools' command lines. As with Asio, only its own
# headers go on the include path (a folder with a link to them), never all of
# the system's include folder.
find_path(MDLINK_CLI11_HEADER CLI/CLI.hpp PATHS /usr/include NO_CMAKE_FIND_ROOT_PATH)
if(NOT MDLINK_CLI11_HEADER)
  message(FATAL_ERROR "CLI11 (CLI/CLI.hpp) not found: the tools' command lines need it. Install "
          "libcli11-dev, give its include folder with -DMDLINK_CLI11_HEADER=DIR, or build "
          "without the tools (-DMDLINK_TOOLS=OFF).")
endif()
set(MDLINK_CLI11_INCLUDE ${CMAKE_BINARY_DIR}/cli11-include)
if(CMAKE_HOST_WIN32)
  set(MDLINK_CLI11_INCLUDE ${MDLINK_CLI11_HEADER})
elseif(NOT EXISTS ${MDLINK_CLI11_INCLUDE}/CLI/CLI.hpp)
  file(MAKE_DIRECTORY ${MDLINK_CLI11_INCLUDE})
  file(CREATE_LINK ${MDLINK_CLI11_HEADER}/CLI ${MDLINK_CLI11_INCLUDE}/CLI SYMBOLIC)
endif()

add_library(mdlink_cli11 INTERFACE)
target_include_directories(mdlink_cli11 SYSTEM INTERFACE ${MDLINK_CLI11_INCLUDE})
