// tekconv as a library: converts TEKA absolute object files into context files, lists their
// records as the symbol dump does, and checks their type indices, in memory or on files.
//
// Every function returns the exit status that the tekconv command gives for the same run (run()
// as a Status, the others as its int value):
//   0    the run finished (also when the input ended early, with a message on the console)
//   1    a TYPE record of an undefined kind reached the output ("\nUndefined type")
//   2    Options::strict, and the input had a warning or its pass ended early: no output
//   255  a fatal error ("Error : <message>"): input unreadable, output not writable, memory
//   -1   the output passed Options::output_budget; the run was abandoned
// Messages about the input (and the dump text) go to Options::console.
//
// Exceptions: the runs (run, convert, convert_file, convert_elf, convert_elf_file, dump, check)
// turn every failure of the input, the files and memory inside the run into their status; what
// escapes them is what the caller's own callbacks throw (Options::companions,
// Options::diagnostics, Options::temporaries), after the run's temporary files are removed, and
// std::bad_alloc when memory runs out before the run begins (copying the options). The other
// calls throw nothing but std::bad_alloc. (A std::logic_error from the ELF writer is a fault of
// the converter, not of the input, and is not caught.)
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "tekconv/expected.hpp"

namespace tekconv {

// The exit status of a run, as the tekconv command gives it.
enum class Status : int {
  Done = 0,           // the run finished
  UndefinedType = 1,  // a TYPE record of an undefined kind reached the output
  Strict = 2,         // Options::strict, and the input had problems: no output
  Fatal = 255,        // a fatal error
  Usage = 255,        // (the tekconv command) a command line that names no run
  Abandoned = -1,     // the output passed Options::output_budget
};

constexpr int exit_status(Status s) {
  return static_cast<int>(s);
}

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

// Told of each temporary file a run creates (an output file under its temporary name, the type
// index check's scratch file) while it exists, so that whatever ends the process early (a signal
// handler) can remove it.
class TemporaryFiles {
 public:
  virtual ~TemporaryFiles() = default;
  // Around the creation of a file and its track(): whatever would remove it is held back, so
  // that no temporary exists untracked.
  virtual void hold() {}
  virtual void release() {}
  virtual void track(const std::string& path) = 0;
  virtual void untrack(const std::string& path) = 0;
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
  // Told of each temporary file that a run creates while it exists; nullptr: none is told.
  TemporaryFiles* temporaries = nullptr;
};

// Finds the text of a companion file by its name, or nullopt.
using CompanionLookup = std::function<std::optional<std::string>(const std::string& name)>;

// The companion lookup of the command line: files in a directory ("" for the current one). A
// file that cannot be opened, or is no regular file, is one that is not there; a read error
// ends its text where it stands. The lookup throws nothing but std::bad_alloc.
CompanionLookup companions_in(const std::string& directory);

// The same for a directory that must be there: an Error (Code::System, with its errno; ENOTDIR
// for a file that is no directory) when it cannot be used. Throws nothing; memory running out is
// Code::OutOfMemory.
Expected<CompanionLookup> companion_directory(const std::string& directory);

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

constexpr Dump operator|(Dump a, Dump b) {
  return static_cast<Dump>(static_cast<uint32_t>(a) | static_cast<uint32_t>(b));
}
constexpr Dump operator&(Dump a, Dump b) {
  return static_cast<Dump>(static_cast<uint32_t>(a) & static_cast<uint32_t>(b));
}
constexpr Dump& operator|=(Dump& a, Dump b) {
  return a = a | b;
}

// Lists the records of an object file on the console, as tekconv -s (and the others) does.
int dump(std::span<const uint8_t> input, Dump what, const Options& options = {});

// The type index check on an object file (tekconv -k), without a scratch file.
int check(std::span<const uint8_t> input, const Options& options = {});

// What a run does.
enum class Mode : uint8_t {
  Convert,  // the input into an output file (tekconv)
  Dump,     // the records listed on the console (tekconv -s and the others)
  Check,    // the type index check (tekconv -k)
};

// What a conversion writes.
enum class Output : uint8_t {
  Context,  // the context file (-O ctx)
  Elf,      // an ELF32 executable with DWARF 4 debug information (-O elf)
};

// Where a run reads the object file from.
struct Source {
  enum class Kind : uint8_t { File, StandardInput, Memory };
  Kind kind = Kind::File;
  std::string path;                // File
  std::span<const uint8_t> bytes;  // Memory

  static Source file(std::string path) { return {Kind::File, std::move(path), {}}; }
  static Source standard_input() { return {Kind::StandardInput, {}, {}}; }
  static Source memory(std::span<const uint8_t> bytes) { return {Kind::Memory, {}, bytes}; }
};

// Where a conversion writes its output. A file is written under a unique temporary name in its
// directory and renamed onto its name when complete; standard output gets the whole file when
// it is complete, so a run that fails writes nothing there.
struct Target {
  enum class Kind : uint8_t {
    BesideInput,     // the input file's name, from its last '.' on replaced by .ctx or .elf
    File,            // path
    StandardOutput,  // also what the path "-" stands for
    Memory,          // *bytes, complete when the status is Done (emptied otherwise)
  };
  Kind kind = Kind::BesideInput;
  std::string path;
  std::vector<uint8_t>* bytes = nullptr;

  static Target beside_input() { return {}; }
  // A name the caller was given: a device or a stream there (/dev/null, a link to a pipe) is
  // written to, and a link to a regular file stays while its target is replaced.
  static Target file(std::string path) {
    return path == "-" ? standard_output() : Target{Kind::File, std::move(path), nullptr};
  }
  static Target standard_output() { return {Kind::StandardOutput, {}, nullptr}; }
  static Target memory(std::vector<uint8_t>& bytes) { return {Kind::Memory, {}, &bytes}; }
};

// One run of the converter, as one command line describes it.
struct Job {
  Mode mode = Mode::Convert;
  Dump dump = Dump::All;            // Mode::Dump: the records listed
  Output output = Output::Context;  // Mode::Convert: what is written
  Source input;
  Target target;  // Mode::Convert only
  // Mode::Check on a file or standard input: the scratch file that holds the marks between the
  // two readings (the command line uses "selfix.$$$" in the current directory), created before
  // the first and removed after the second. Empty: the marks stay in memory.
  std::string check_scratch;
  Options options;
};

// Runs the job. The input file is opened before any output is made, and an output file is never
// the input file. A conversion prints nothing about a sound input (the command's "Created" line
// is its own).
Status run(const Job& job);

// The name of the file that a conversion writes: the target's path, the name beside the input,
// "-" for standard output, "" for memory. Looks at no file.
std::string output_path(const Job& job);

}  // namespace tekconv
