# Run by ctest: installs the build into a fresh prefix, checks that exactly
# the expected files landed there and that the libraries find each other,
# then builds and runs tests/install/app against the installed package.
cmake_minimum_required(VERSION 3.20)

# run(<what> <command...>): fails the test with the command's output.
function(run what)
  execute_process(COMMAND ${ARGN} WORKING_DIRECTORY ${WORK_DIR}
                  RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "${what} failed (${rc}):\n${out}\n${err}")
  endif()
  set(output "${out}" PARENT_SCOPE)
endfunction()

function(expect_version what)
  if(NOT output STREQUAL "mdlink ${VERSION}\n")
    message(FATAL_ERROR "${what} printed '${output}', expected 'mdlink ${VERSION}'")
  endif()
endfunction()

file(REMOVE_RECURSE ${WORK_DIR})
file(MAKE_DIRECTORY ${WORK_DIR})
set(prefix ${WORK_DIR}/prefix)
run("cmake --install" ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${prefix})

file(GLOB_RECURSE installed RELATIVE ${prefix} ${prefix}/*)
list(TRANSFORM installed REPLACE "mdlinkTargets-[a-z]+\\.cmake$" "mdlinkTargets-<config>.cmake")
list(SORT installed)
list(SORT EXPECTED)
if(NOT installed STREQUAL EXPECTED)
  string(REPLACE ";" "\n  " installed "${installed}")
  string(REPLACE ";" "\n  " EXPECTED "${EXPECTED}")
  message(FATAL_ERROR "installed:\n  ${installed}\nexpected:\n  ${EXPECTED}")
endif()
foreach(lib libmdlink.so libkelvobase.so)
  file(READ_ELF ${prefix}/${LIBDIR}/${lib} RUNPATH runpath) # a list: ':' reads as ';'
  if(NOT runpath STREQUAL "$ORIGIN;./")
    message(FATAL_ERROR "${lib}: run-time search path '${runpath}', expected '$ORIGIN:./'")
  endif()
endforeach()

separate_arguments(flags UNIX_COMMAND "${FLAGS}")
run("configuring the application" ${CMAKE_COMMAND} -S ${APP_DIR} -B ${WORK_DIR}/app -G ${GENERATOR}
    -DCMAKE_PREFIX_PATH=${prefix} -DCMAKE_CXX_COMPILER=${CXX} "-DCMAKE_CXX_FLAGS=${FLAGS}")
run("building the application" ${CMAKE_COMMAND} --build ${WORK_DIR}/app)
run("running the application" ${WORK_DIR}/app/app)
expect_version("the application")

find_program(PKG_CONFIG pkg-config)
if(NOT PKG_CONFIG)
  message(STATUS "pkg-config is not installed: mdlink.pc not tried")
  return()
endif()
run("pkg-config" ${CMAKE_COMMAND} -E env PKG_CONFIG_PATH=${prefix}/${LIBDIR}/pkgconfig
    ${PKG_CONFIG} --cflags --libs mdlink)
separate_arguments(pc UNIX_COMMAND "${output}")
run("compiling with pkg-config" ${CXX} ${flags} ${APP_DIR}/main.cpp ${pc} -o ${WORK_DIR}/app-pc)
run("running the pkg-config build" ${CMAKE_COMMAND} -E env LD_LIBRARY_PATH=${prefix}/${LIBDIR}
    ${WORK_DIR}/app-pc)
expect_version("the pkg-config build")
