# Cross-compiling for Windows x64 with MinGW-w64 (posix threads flavour).
#   cmake -S . -B build-mingw -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake
# The tests then run under Wine (cmake/wine-run.sh).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)

set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# The DLLs and programs need only system DLLs: the GCC and C++ runtimes and
# winpthread are linked in statically.
# (-static only makes the linker pick static archives; the system DLLs are
# still reached through their import libraries.)
set(_mdlink_static_runtime "-static -static-libgcc -static-libstdc++")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "${_mdlink_static_runtime}")
set(CMAKE_EXE_LINKER_FLAGS_INIT "${_mdlink_static_runtime}")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "${_mdlink_static_runtime}")
