# The programs and libraries that some tests need and a fresh machine may lack. Each missing one
# is reported by one configure line naming the Debian packages that provide it; the tests that
# need it are then skipped (tests/optional_tools.hpp) and a test file that cannot compile
# without it is left out of the build.
#
# For every tool NAME (upper-cased, '-' as '_', as ID) this sets TEKTEST_HAVE_<ID> (0 or 1), and
# tektest_use_optional_tools(target) gives the target the compile definitions
#   TEKTEST_HAVE_<ID>   0 or 1
#   TEKTEST_<ID>        where the tool was found ("" when missing)
#   TEKTEST_<ID>_INSTALL  the command that installs it
# and links the libraries found.
#
# To configure as if a tool were missing: a program with -DTEKTEST_TOOL_<ID>=OFF (a *-NOTFOUND
# value would only make find_program search again), a library with
# -DCMAKE_DISABLE_FIND_PACKAGE_<Package>=ON. TEKTEST_OPTIONAL_TOOL_HIDE_ARGS holds those
# arguments for every tool, TEKTEST_OPTIONAL_TOOL_NAMES the names.

list(APPEND CMAKE_MODULE_PATH ${CMAKE_CURRENT_LIST_DIR})

set(TEKTEST_OPTIONAL_TOOL_NAMES "")
set(TEKTEST_OPTIONAL_TOOL_HIDE_ARGS "")
set(_tektest_definitions "")
set(_tektest_libraries "")

# Records one tool: found is a boolean, location what the tests are told.
macro(_tektest_tool name packages found location)
  string(TOUPPER "${name}" _id)
  string(REPLACE "-" "_" _id "${_id}")
  list(APPEND TEKTEST_OPTIONAL_TOOL_NAMES ${name})
  if(${found})
    set(TEKTEST_HAVE_${_id} 1)
    set(_location "${location}")
  else()
    set(TEKTEST_HAVE_${_id} 0)
    set(_location "")
    message(STATUS
      "Optional test tool missing: ${name}; its tests are skipped (apt-get install ${packages})")
  endif()
  list(APPEND _tektest_definitions "TEKTEST_HAVE_${_id}=${TEKTEST_HAVE_${_id}}"
       "TEKTEST_${_id}=\"${_location}\"" "TEKTEST_${_id}_INSTALL=\"apt-get install ${packages}\"")
endmacro()

# A program the tests run by name.
macro(_tektest_program name packages)
  string(TOUPPER "TEKTEST_TOOL_${name}" _var)
  string(REPLACE "-" "_" _var "${_var}")
  find_program(${_var} NAMES ${name} DOC "${name} for the tests (OFF: skip the tests needing it)")
  list(APPEND TEKTEST_OPTIONAL_TOOL_HIDE_ARGS -D${_var}=OFF)
  _tektest_tool(${name} "${packages}" ${_var} "${${_var}}")
endmacro()

# ELF output read back by gdb for processors the host's gdb does not know.
_tektest_program(gdb-multiarch gdb-multiarch)
# DWARF checked by llvm-dwarfdump --verify, the ELF image copied out by llvm-objcopy.
_tektest_program(llvm-dwarfdump llvm)
_tektest_program(llvm-objcopy llvm)
# ELF headers and DWARF lines read by LLVM's tools too.
_tektest_program(llvm-readelf llvm)
_tektest_program(llvm-symbolizer llvm)
# ELF headers, sections and symbols listed by readelf, the image copied out by objcopy.
_tektest_program(readelf binutils)
_tektest_program(objcopy binutils)
# The manual pages rendered as a reader sees them.
_tektest_program(groff groff-base)
_tektest_program(man man-db)
# The manual's jq example run on a JSON listing.
_tektest_program(jq jq)

# ctxdump --json output parsed back.
find_package(nlohmann_json 3 QUIET)
list(APPEND TEKTEST_OPTIONAL_TOOL_HIDE_ARGS -DCMAKE_DISABLE_FIND_PACKAGE_nlohmann_json=ON)
_tektest_tool(nlohmann-json nlohmann-json3-dev nlohmann_json_FOUND "${nlohmann_json_DIR}")
if(nlohmann_json_FOUND)
  list(APPEND _tektest_libraries nlohmann_json::nlohmann_json)
endif()

# DWARF read back through elfutils.
if(EXISTS ${CMAKE_CURRENT_LIST_DIR}/FindLibDW.cmake)
  find_package(LibDW QUIET)
  list(APPEND TEKTEST_OPTIONAL_TOOL_HIDE_ARGS -DCMAKE_DISABLE_FIND_PACKAGE_LibDW=ON)
  if(LibDW_FOUND OR LIBDW_FOUND)
    set(_tektest_libdw_found TRUE)
  else()
    set(_tektest_libdw_found FALSE)
  endif()
  _tektest_tool(libdw libdw-dev _tektest_libdw_found LibDW::LibDW)
  if(_tektest_libdw_found)
    list(APPEND _tektest_libraries LibDW::LibDW)
  endif()
endif()

function(tektest_use_optional_tools target)
  target_compile_definitions(${target} PRIVATE ${_tektest_definitions})
  target_link_libraries(${target} PRIVATE ${_tektest_libraries})
endfunction()
