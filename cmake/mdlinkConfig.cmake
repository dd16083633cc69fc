# find_package(mdlink CONFIG): the imported target mdlink::mdlink adds the
# include folder (MdApi.h) and links libmdlink.
include(${CMAKE_CURRENT_LIST_DIR}/mdlinkTargets.cmake)
