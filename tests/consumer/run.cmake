# Installs the build tree into a scratch prefix, builds the consumer project against it, and
# checks that the library converts the example to the same bytes as the tekconv command, and
# that its reader counts as many records as the installed ctxdump lists.
file(REMOVE_RECURSE "${WORK}")
file(MAKE_DIRECTORY "${WORK}/example")

function(run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "${ARGN}\n failed (${rc}):\n${out}\n${err}")
  endif()
  set(run_out "${out}" PARENT_SCOPE)
endfunction()

run("${CMAKE_COMMAND}" --install "${BUILD_DIR}" --prefix "${WORK}/prefix")
run("${CMAKE_COMMAND}" -S "${SOURCE_DIR}/tests/consumer" -B "${WORK}/build"
    "-DCMAKE_PREFIX_PATH=${WORK}/prefix" "-DCMAKE_CXX_COMPILER=${CXX}"
    "-DCMAKE_CXX_FLAGS=${FLAGS}" "-DCMAKE_EXE_LINKER_FLAGS=${FLAGS}")
run("${CMAKE_COMMAND}" --build "${WORK}/build")

file(COPY "${SOURCE_DIR}/examples/prog.abs" "${SOURCE_DIR}/examples/main.cpd"
     DESTINATION "${WORK}/example")
run("${TEKCONV}" prog.abs WORKING_DIRECTORY "${WORK}/example")
run("${WORK}/build/consumer" "${WORK}/example/prog.abs" "${WORK}/library.ctx" "${WORK}/example")
run("${CMAKE_COMMAND}" -E compare_files "${WORK}/example/prog.ctx" "${WORK}/library.ctx")
message(STATUS "the installed library converts the example as the command does")

run("${WORK}/prefix/bin/ctxdump" "${WORK}/library.ctx")
string(REGEX MATCHALL "\n" lines "${run_out}")
list(LENGTH lines listed)
run("${WORK}/build/count" "${WORK}/library.ctx")
if(NOT listed GREATER 20 OR NOT run_out STREQUAL "${listed} records\n")
  message(FATAL_ERROR "the reader counts '${run_out}', ctxdump lists ${listed} records")
endif()
message(STATUS "the installed library's reader counts the ${listed} records that ctxdump lists")
