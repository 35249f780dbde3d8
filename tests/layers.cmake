# Fails when a file includes a header of a layer above its own. From the bottom: the formats
# (src/format) include only formats; the converter core (src/core) the core and the formats;
# the ELF back end (src/elf) those and itself; the library (src/api, include/) nothing of the
# tools; the tools (tekconv, ctxdump) only the public headers and their own files. Inside the
# core, the sinks know no reader or symbol state; the symbol and type state (debuginfo) uses the
# record reader and the unit, companion and source state (core/record_reader.hpp,
# core/unit_state.hpp, core/companion_state.hpp, core/source_state.hpp) but neither the record
# handlers of reader/ nor the whole converter (core/converter.hpp); the reader knows no sink of
# its own.
set(allowed_format "format/")
set(allowed_core "format/|core/")
set(allowed_elf "format/|core/|elf/")
set(allowed_api "format/|core/|elf/|tekconv/|api/")
set(allowed_tools/tekconv "tekconv/|tools/tekconv/")
set(allowed_tools/ctxdump "tekconv/|tools/ctxdump/")
set(forbidden_core_sinks "core/reader/|core/debuginfo/|core/converter.hpp|core/run.hpp")
set(forbidden_core_debuginfo "core/reader/|core/sinks/|core/converter.hpp|core/run.hpp")
set(forbidden_core_reader "core/sinks/|core/run.hpp")
set(problems "")
foreach(layer format core elf api tools/tekconv tools/ctxdump)
  file(GLOB_RECURSE files "${SOURCE_DIR}/src/${layer}/*.hpp" "${SOURCE_DIR}/src/${layer}/*.cpp")
  foreach(f ${files})
    # The folder inside the core, if any: sinks, debuginfo, reader.
    set(forbidden "")
    if(layer STREQUAL "core" AND f MATCHES "/src/core/([a-z]+)/")
      set(forbidden "${forbidden_core_${CMAKE_MATCH_1}}")
    endif()
    file(STRINGS "${f}" lines REGEX "^#include \"")
    foreach(line ${lines})
      string(REGEX REPLACE "^#include \"([^\"]*)\".*" "\\1" header "${line}")
      if(NOT header MATCHES "^(${allowed_${layer}})")
        string(APPEND problems "${f}: ${line}\n")
      elseif(forbidden AND header MATCHES "^(${forbidden})")
        string(APPEND problems "${f}: ${line}\n")
      endif()
    endforeach()
  endforeach()
endforeach()
if(problems)
  message(FATAL_ERROR "includes of a higher layer:\n${problems}")
endif()
message(STATUS "every file includes only its own layer and the layers below it")
