# Standalone Asio, header-only. Only Asio's own headers go on the include
# path (a folder of links to them), never all of the system's include folder:
# that is what lets the same sources cross-compile for Windows.
find_path(MDLINK_ASIO_HEADER asio.hpp PATHS /usr/include NO_CMAKE_FIND_ROOT_PATH REQUIRED)
set(MDLINK_ASIO_INCLUDE ${CMAKE_BINARY_DIR}/asio-include)
if(CMAKE_HOST_WIN32)
  # Links need privileges there; a Windows host has no foreign system headers
  # to keep out.
  set(MDLINK_ASIO_INCLUDE ${MDLINK_ASIO_HEADER})
elseif(NOT EXISTS ${MDLINK_ASIO_INCLUDE}/asio.hpp)
  file(MAKE_DIRECTORY ${MDLINK_ASIO_INCLUDE})
  file(CREATE_LINK ${MDLINK_ASIO_HEADER}/asio.hpp ${MDLINK_ASIO_INCLUDE}/asio.hpp SYMBOLIC)
  file(CREATE_LINK ${MDLINK_ASIO_HEADER}/asio ${MDLINK_ASIO_INCLUDE}/asio SYMBOLIC)
endif()

add_library(mdlink_asio INTERFACE)
target_include_directories(mdlink_asio SYSTEM INTERFACE ${MDLINK_ASIO_INCLUDE})
# Asio picks std::aligned_alloc only when a standard header was included
# before its own, so translation units could disagree on how handler memory
# is freed (an ODR violation that AddressSanitizer reports). One choice for all.
target_compile_definitions(mdlink_asio INTERFACE ASIO_STANDALONE ASIO_NO_DEPRECATED
  ASIO_DISABLE_STD_ALIGNED_ALLOC)
find_package(Threads REQUIRED)
target_link_libraries(mdlink_asio INTERFACE Threads::Threads)
if(WIN32)
  target_compile_definitions(mdlink_asio INTERFACE _WIN32_WINNT=0x0601 WIN32_LEAN_AND_MEAN NOMINMAX)
endif()
if(MINGW)
  # With MinGW's POSIX thread model, Asio builds its internal threads on
  # pthreads when <pthread.h> came before its own headers (a standard header
  # such as <thread> brings it) and on Windows threads otherwise, so
  # translation units disagreed on the layout of the io_context's threads: a
  # context created in one and destroyed in another joined and closed
  # whatever handles a pthread id and its padding read as (the standard
  # output among them). One choice for all.
  target_compile_definitions(mdlink_asio INTERFACE ASIO_HAS_PTHREADS)
endif()
if(WIN32)
  target_link_libraries(mdlink_asio INTERFACE ws2_32 mswsock)
endif()
# GCC warns that ThreadSanitizer does not model the fence in Asio's handler
# invocation; Asio's own ordering comes from its scheduler's mutex, which it
# does model.
if(MDLINK_SANITIZE MATCHES "thread" AND CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
  target_compile_options(mdlink_asio INTERFACE -Wno-tsan)
endif()
