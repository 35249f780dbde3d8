# A build on a machine without the optional test tools: configures the project in WORK with
# every tool hidden (HIDE, ','-separated configure arguments), checks that configure names each
# missing tool (NAMES) in one line, builds the test program, runs it, and checks that it passes
# with every test that needs a hidden tool skipped for that reason.
#
# cmake -DSOURCE_DIR=... -DWORK=... -DGENERATOR=... -DCXX=... -DLAUNCHER=... -DBUILD_TYPE=...
#       -DCXX_FLAGS=... -DSANITIZE=... -DNAMES=a,b -DHIDE=-Dx=OFF,... -P fresh_machine.cmake

cmake_minimum_required(VERSION 3.25)

string(REPLACE "," ";" NAMES "${NAMES}")
string(REPLACE "," ";" HIDE "${HIDE}")

function(fail what output)
  message(FATAL_ERROR "${what}\n${output}")
endfunction()

# Configure, from an empty directory.
file(REMOVE_RECURSE ${WORK})
execute_process(
  COMMAND ${CMAKE_COMMAND} -S ${SOURCE_DIR} -B ${WORK} -G ${GENERATOR}
          -DCMAKE_CXX_COMPILER=${CXX} -DCMAKE_CXX_COMPILER_LAUNCHER=${LAUNCHER}
          -DCMAKE_BUILD_TYPE=${BUILD_TYPE} -DCMAKE_CXX_FLAGS=${CXX_FLAGS}
          -DTEKCONV_SANITIZE=${SANITIZE} -DTEKCONV_BENCH=OFF ${HIDE}
  OUTPUT_VARIABLE out ERROR_VARIABLE err RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  fail("configure failed (${rc})" "${out}${err}")
endif()

# One line for each missing tool, and none else (the lines hold a ';', so no list of them).
string(REGEX MATCHALL "-- Optional test tool missing: " lines "${out}")
list(LENGTH lines count)
list(LENGTH NAMES want)
if(NOT count EQUAL want)
  fail("configure reported ${count} missing tools, not ${want} (${NAMES})" "${out}")
endif()
foreach(name IN LISTS NAMES)
  set(start "-- Optional test tool missing: ${name}; its tests are skipped (apt-get install ")
  string(FIND "${out}" "${start}" first)
  string(FIND "${out}" "${start}" last REVERSE)
  if(first EQUAL -1 OR NOT first EQUAL last)
    fail("configure did not report ${name} missing in one line" "${out}")
  endif()
  string(SUBSTRING "${out}" ${first} -1 line)
  if(NOT line MATCHES "^[^\n]*\\(apt-get install [a-z0-9.+-]+\\)\n")
    fail("configure did not name the package providing ${name}" "${out}")
  endif()
endforeach()

# Build only the test program (with the programs it runs).
execute_process(COMMAND ${CMAKE_COMMAND} --build ${WORK} --target tekconv_tests -j 2
  OUTPUT_VARIABLE out ERROR_VARIABLE err RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  fail("build failed (${rc})" "${out}${err}")
endif()

# The tools some test requires, from the test sources.
file(GLOB sources ${SOURCE_DIR}/tests/*.cpp)
set(call "TEKTEST_REQUIRE_TOOL\\(\"[^\"]+\"(, *\"[^\"]+\")*\\)")
set(required "")
foreach(source IN LISTS sources)
  file(STRINGS ${source} uses REGEX "${call}")
  foreach(use IN LISTS uses)
    string(REGEX MATCHALL "${call}" calls "${use}")
    string(REGEX MATCHALL "\"[^\"]+\"" names "${calls}")
    string(REPLACE "\"" "" names "${names}")
    list(APPEND required ${names})
  endforeach()
endforeach()
list(REMOVE_DUPLICATES required)
if(required STREQUAL "")
  fail("no test requires an optional tool" "")
endif()

# The suite passes, and each required tool is the reason some test is skipped.
file(MAKE_DIRECTORY ${WORK}/run)
execute_process(COMMAND ${WORK}/tests/tekconv_tests WORKING_DIRECTORY ${WORK}/run
  OUTPUT_VARIABLE out ERROR_VARIABLE err RESULT_VARIABLE rc)
set(out "${out}${err}")
if(NOT rc EQUAL 0)
  fail("the tests failed (${rc})" "${out}")
endif()
if(NOT out MATCHES "\n\\[  SKIPPED \\] [0-9]+ tests?, listed below:\n")
  fail("no test was skipped" "${out}")
endif()
foreach(name IN LISTS required)
  if(NOT name IN_LIST NAMES)
    fail("a test requires ${name}, which configure does not look for" "")
  endif()
  string(FIND "${out}" "\noptional test tool missing: ${name} (apt-get install " at)
  if(at EQUAL -1)
    fail("no test was skipped for want of ${name}" "${out}")
  endif()
endforeach()
string(REGEX MATCHALL "\noptional test tool missing: [^\n]*" reasons "${out}")
list(LENGTH reasons skipped)
message(STATUS "${skipped} tests skipped for a missing tool")
