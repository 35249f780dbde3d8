# Compiles the C++ examples of the README's library section against the public headers, so
# that the examples a user copies stay in step with the interface. Each ```cpp block, its
# includes moved to the top, becomes the body of a function, after a prelude that declares what
# the examples leave to the reader.
cmake_minimum_required(VERSION 3.25)
file(READ "${SOURCE_DIR}/README.md" readme)
string(FIND "${readme}" "\n## The library\n" from)
if(from EQUAL -1)
  message(FATAL_ERROR "README.md has no section 'The library'")
endif()
string(SUBSTRING "${readme}" ${from} -1 section)
# The section ends at the next heading of its level (skip its own).
string(SUBSTRING "${section}" 1 -1 rest)
string(FIND "${rest}" "\n## " next)
if(NOT next EQUAL -1)
  string(SUBSTRING "${section}" 0 ${next} section)
endif()
set(source "#include <tekconv/context_reader.hpp>\n#include <tekconv/tekconv.hpp>\n\n#include <cstdint>\n#include <span>\n#include <string>\n#include <vector>\n\n")
string(APPEND source "int fail(const std::string&);\nvoid list(const std::string&);\nstd::span<const uint8_t> object_bytes;\n\n")
set(count 0)
while(TRUE)
  string(FIND "${section}" "```cpp\n" start)
  if(start EQUAL -1)
    break()
  endif()
  math(EXPR start "${start} + 7")
  string(SUBSTRING "${section}" ${start} -1 section)
  string(FIND "${section}" "```" stop)
  string(SUBSTRING "${section}" 0 ${stop} body)
  string(SUBSTRING "${section}" ${stop} -1 section)
  # The includes go to the top of the file; the rest is a function body.
  string(REGEX REPLACE "#include <[^>]*>\n" "" body "${body}")
  math(EXPR count "${count} + 1")
  string(APPEND source "int example_${count}() {\n${body}  return 0;\n}\n\n")
endwhile()
if(count EQUAL 0)
  message(FATAL_ERROR "README.md: no C++ example in the library section")
endif()
file(WRITE "${WORK}/readme_examples.cpp" "${source}")
execute_process(
  COMMAND ${CXX} -std=c++20 -fsyntax-only -Wall -Wextra -Werror -Wno-unused-variable
          -I${SOURCE_DIR}/include ${WORK}/readme_examples.cpp
  RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE out)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "the README's C++ examples do not compile:\n${out}")
endif()
message(STATUS "${count} C++ examples of the README compile against the public headers")
