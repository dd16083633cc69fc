# NATS (Debian's libnats-dev): mdrelay, its tests and benchmark, and the
# Python package's BusReader. Looked for with pkg-config in native Linux
# builds only: cross builds have no NATS client, and the release build's
# programs need nothing beyond glibc and our two libraries. With
# MDLINK_REQUIRE_NATS=1 in the environment (CI), a missing libnats-dev is an
# error instead of a note.
option(MDLINK_NATS "Build mdrelay and the bus readers when libnats is found" ON)
set(MDLINK_NATS_FOUND OFF)
if(MDLINK_NATS AND CMAKE_SYSTEM_NAME STREQUAL "Linux" AND NOT CMAKE_CROSSCOMPILING
   AND NOT MDLINK_STATIC_RUNTIME AND NOT MDLINK_FUZZ)
  find_package(PkgConfig QUIET)
  if(PKG_CONFIG_FOUND)
    pkg_check_modules(NATS QUIET IMPORTED_TARGET libnats)
  endif()
  if(NATS_FOUND)
    set(MDLINK_NATS_FOUND ON)
  elseif("$ENV{MDLINK_REQUIRE_NATS}" STREQUAL "1")
    message(FATAL_ERROR "libnats not found: install the Debian package libnats-dev "
                        "(MDLINK_REQUIRE_NATS=1 asks for it)")
  else()
    message(STATUS "mdrelay is not built: libnats not found (Debian package libnats-dev)")
  endif()
endif()
