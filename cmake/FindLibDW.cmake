# FindLibDW
# ---------
# Finds elfutils' libdw, the DWARF reader, with the libelf it is built on.
#
# Result variables:
#   LibDW_FOUND, LibDW_VERSION, LibDW_INCLUDE_DIRS, LibDW_LIBRARIES
# Imported target:
#   LibDW::LibDW   (libdw and libelf, with the include directory of <elfutils/libdw.h>)
#
# pkg-config's libdw module gives the hints when it is available. Like every find module this
# honours CMAKE_DISABLE_FIND_PACKAGE_LibDW and the QUIET and REQUIRED arguments.

find_package(PkgConfig QUIET)
if(PKG_CONFIG_FOUND)
  pkg_check_modules(PC_LibDW QUIET libdw)
endif()

find_path(LibDW_INCLUDE_DIR NAMES elfutils/libdw.h HINTS ${PC_LibDW_INCLUDE_DIRS})
find_library(LibDW_LIBRARY NAMES dw HINTS ${PC_LibDW_LIBRARY_DIRS})
find_library(LibDW_ELF_LIBRARY NAMES elf HINTS ${PC_LibDW_LIBRARY_DIRS})

if(PC_LibDW_VERSION)
  set(LibDW_VERSION ${PC_LibDW_VERSION})
elseif(LibDW_INCLUDE_DIR AND EXISTS "${LibDW_INCLUDE_DIR}/elfutils/version.h")
  # _ELFUTILS_VERSION is 188 for 0.188.
  file(STRINGS "${LibDW_INCLUDE_DIR}/elfutils/version.h" _LibDW_version_line
       REGEX "^#define[ \t]+_ELFUTILS_VERSION[ \t]+[0-9]+")
  if(_LibDW_version_line MATCHES "_ELFUTILS_VERSION[ \t]+([0-9]+)")
    math(EXPR _LibDW_minor "${CMAKE_MATCH_1} % 1000")
    math(EXPR _LibDW_major "${CMAKE_MATCH_1} / 1000")
    set(LibDW_VERSION "${_LibDW_major}.${_LibDW_minor}")
  endif()
  unset(_LibDW_version_line)
  unset(_LibDW_major)
  unset(_LibDW_minor)
endif()

include(FindPackageHandleStandardArgs)
find_package_handle_standard_args(LibDW
  REQUIRED_VARS LibDW_LIBRARY LibDW_ELF_LIBRARY LibDW_INCLUDE_DIR
  VERSION_VAR LibDW_VERSION)

if(LibDW_FOUND)
  set(LibDW_INCLUDE_DIRS ${LibDW_INCLUDE_DIR})
  set(LibDW_LIBRARIES ${LibDW_LIBRARY} ${LibDW_ELF_LIBRARY})
  if(NOT TARGET LibDW::LibDW)
    add_library(LibDW::LibDW UNKNOWN IMPORTED)
    set_target_properties(LibDW::LibDW PROPERTIES
      IMPORTED_LOCATION "${LibDW_LIBRARY}"
      INTERFACE_INCLUDE_DIRECTORIES "${LibDW_INCLUDE_DIR}"
      INTERFACE_LINK_LIBRARIES "${LibDW_ELF_LIBRARY}")
  endif()
endif()

mark_as_advanced(LibDW_INCLUDE_DIR LibDW_LIBRARY LibDW_ELF_LIBRARY)
