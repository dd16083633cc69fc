# What `cmake --install` puts where (GNUInstallDirs): the two headers, the
# two shared libraries, mdfront, mdcli, mdcap (where capture files are built)
# and (where libnats is found) mdrelay,
# a CMake package (mdlink::mdlink)
# and mdlink.pc. Object libraries, test-only targets and the fast-time base
# library stay out.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(MDLINK_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/mdlink)

# An installed library finds its neighbour wherever the folder is moved.
set_target_properties(kelvobase PROPERTIES INSTALL_RPATH "\$ORIGIN;./")

install(FILES include/MdApi.h include/KelvoBase.h DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(TARGETS mdlink kelvobase EXPORT mdlinkTargets
        LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
        ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
        RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(EXPORT mdlinkTargets NAMESPACE mdlink:: DESTINATION ${MDLINK_CMAKE_DIR})

foreach(tool mdfront mdcap)
  if(TARGET ${tool})
    install(TARGETS ${tool} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  endif()
endforeach()
# mdcli and mdrelay find libmdlink in the library folder beside their own.
file(RELATIVE_PATH bin_to_lib /${CMAKE_INSTALL_BINDIR} /${CMAKE_INSTALL_LIBDIR})
foreach(tool mdcli mdrelay)
  if(TARGET ${tool})
    set_target_properties(${tool} PROPERTIES INSTALL_RPATH "\$ORIGIN/${bin_to_lib}")
    install(TARGETS ${tool} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  endif()
endforeach()

write_basic_package_version_file(${CMAKE_CURRENT_BINARY_DIR}/mdlinkConfigVersion.cmake
                                 COMPATIBILITY SameMajorVersion)
install(FILES cmake/mdlinkConfig.cmake ${CMAKE_CURRENT_BINARY_DIR}/mdlinkConfigVersion.cmake
        DESTINATION ${MDLINK_CMAKE_DIR})

# The prefix is taken from where mdlink.pc lies, so `--prefix` at install
# time is honoured.
set(pc_dir ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
file(RELATIVE_PATH MDLINK_PC_TO_PREFIX /${pc_dir} /)
string(REGEX REPLACE "/$" "" MDLINK_PC_TO_PREFIX "${MDLINK_PC_TO_PREFIX}")
configure_file(cmake/mdlink.pc.in ${CMAKE_CURRENT_BINARY_DIR}/mdlink.pc @ONLY)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/mdlink.pc DESTINATION ${pc_dir})
