// tekconv as a library: converts TEKA absolute object files into context files, lists their
// records as the symbol dump does, and checks their type indices, in memory or on files.
//
// Every function returns the exit status that the tekconv command gives for the same run:
//   0    the run finished (also when the input ended early, with a message on the console)
//   1    a TYPE record of an undefined kind reached the output ("\nUndefined type")
//   2    Options::strict, and the input had a warning or its pass ended early: no output
//   255  a fatal error ("Error : <message>"): input unreadable, output not writable, memory
//   -1   the output passed Options::output_budget; the run was abandoned
// Messages about the input (and the dump text) go to Options::console.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace tekconv {

// The version of the converter, and of the context format it writes.
const char* version();
unsigned context_format_version();

// A problem in the input, or a fatal error: what tekconv -v lists on standard error.
struct Diagnostic {
  enum class Severity : uint8_t {
    Warning,  // the record is used in part, or dropped; the run goes on
    PassEnd,  // the run ends at this record, and finishes like one that reached END
    Error,    // a fatal error: the run stops
  };
  Severity severity = Severity::Warning;
  bool located = false;  // offset and record are known
  uint64_t offset = 0;   // of the record's first byte in the input
  uint8_t record = 0;    // the record's code
  std::string text;      // about a named record, it begins with the record's name
};

struct Options {
  bool short_pointers = false;  // pointers of unspecified size are 2 bytes (tekconv -ps)
  bool m16 = false;             // segmented units keep 8 bits of offset (-m16)
  bool far_functions = false;   // every function type is FARFUNC (-l)
  bool full_paths = false;      // FILE records keep the whole source path (-fullpath)
  // A warning about the input (the ELF writer's included), or a pass that ends before END,
  // fails the run with status 2 and no output (--strict).
  bool strict = false;
  // The text of a companion description file of an H8 program by its name ("main.cpd"), or
  // nullopt when there is none. Without a lookup no unit has companion files.
  std::function<std::optional<std::string>(const std::string& name)> companions;
  // The console: messages about the input, and the dump text; nullptr: no console text.
  FILE* console = stdout;
  // Bytes of output (records, dump text, records checked) after which the run is abandoned.
  uint64_t output_budget = UINT64_MAX;
  // Called once for each problem in the input (the check's second reading reports none again)
  // and for a fatal error. The console text is the same with or without it.
  std::function<void(const Diagnostic&)> diagnostics;
};

// The companion lookup of the command line: files in a directory ("" for the current one).
std::function<std::optional<std::string>(const std::string& name)> companions_in(
    const std::string& directory);

// Converts an object file in memory into the bytes of its context file (complete when the
// status is 0).
int convert(std::span<const uint8_t> input, std::vector<uint8_t>& context,
            const Options& options = {});

// Converts an object file, read through a buffer, into a context file written at context_path.
// The file is written under a unique temporary name in its directory and renamed onto
// context_path only when it is complete (the type and local streams meanwhile in unnamed
// temporary files): a run that fails leaves an earlier file at context_path as it was.
int convert_file(const std::string& input_path, const std::string& context_path,
                 const Options& options = {});

// Converts an object file in memory into an ELF32 executable with DWARF 4 debug information
// (complete when the status is 0). Problems that the ELF file cannot express (units of
// different processors, overlapping image data) go to Options::diagnostics at the record they
// concern, as the input's own do; their texts are also added to warnings.
int convert_elf(std::span<const uint8_t> input, std::vector<uint8_t>& elf,
                const Options& options = {}, std::vector<std::string>* warnings = nullptr);

// The same from a file into an ELF file at elf_path, written as convert_file writes a context
// file: whole or not at all.
int convert_elf_file(const std::string& input_path, const std::string& elf_path,
                     const Options& options = {});

// The dump options: which records the listing shows.
enum class Dump : uint32_t {
  All = 0xFFFFFFFF,  // -s
  Files = 0x01,      // -sf: FILE, LINE, ENDLINE
  Types = 0x02,      // -st: TYPE, MEMBER
  Publics = 0x04,    // -sg: PUBLIC
  Scopes = 0x08,     // -ss: STARTLOCAL, ENDLOCAL
  Locals = 0x10,     // -sl: SETLOCAL
};

// Lists the records of an object file on the console, as tekconv -s (and the others) does.
int dump(std::span<const uint8_t> input, Dump what, const Options& options = {});

// The type index check on an object file (tekconv -k), without a scratch file.
int check(std::span<const uint8_t> input, const Options& options = {});

}  // namespace tekconv
