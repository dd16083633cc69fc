# MDLINK_STATIC_RUNTIME: the libraries and programs carry their own copy of
# the C++ runtime and GCC's support library, so they load where the system's
# libstdc++ is older than the compiler's. The libraries' version scripts keep
# every runtime symbol local: the exported surface does not change, and an
# application keeps its own runtime.
if(MDLINK_STATIC_RUNTIME)
  if(WIN32 OR MSVC)
    message(FATAL_ERROR "MDLINK_STATIC_RUNTIME is for the Linux build")
  endif()
  add_link_options(-static-libstdc++ -static-libgcc)
  add_compile_options(-include ${CMAKE_CURRENT_LIST_DIR}/glibc-floor.h)
endif()
