# cmake --install into a fresh prefix, then `import mdlink` from there with
# the working folder elsewhere: the module finds libmdlink through its
# run-time search path, not through the build tree.
file(REMOVE_RECURSE ${WORK_DIR})
file(MAKE_DIRECTORY ${WORK_DIR}/run)
execute_process(COMMAND ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${WORK_DIR}/prefix
                RESULT_VARIABLE rc OUTPUT_QUIET)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "cmake --install failed: ${rc}")
endif()
execute_process(
  COMMAND ${CMAKE_COMMAND} -E env --unset=LD_LIBRARY_PATH PYTHONPATH=${WORK_DIR}/prefix/${SITE}
          ${PYTHON} -c "import mdlink, os; print(mdlink.api_version(), os.path.dirname(mdlink.__file__))"
  WORKING_DIRECTORY ${WORK_DIR}/run
  RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "import mdlink from the prefix failed:\n${out}${err}")
endif()
if(NOT out MATCHES "^[0-9.]+ ${WORK_DIR}/prefix/${SITE}/mdlink\n$")
  message(FATAL_ERROR "unexpected: ${out}")
endif()
message(STATUS "imported: ${out}")
