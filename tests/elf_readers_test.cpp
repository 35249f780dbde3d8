// The ELF output of random programs (tools/random_program) read by independent readers:
// llvm-dwarfdump --verify and its dumps, readelf's debug dumps, gdb-multiarch for the machines
// it knows, and the libdw checker (tools/dwcheck). Every program of every processor family
// must pass every reader.
//
// ElfReadersSample runs a few dozen programs in the quick suite; DISABLED_ElfReadersCorpus runs
// TEKCONV_CORPUS_PROGRAMS programs (2000 by default) under the CTest label "corpus". A failure
// names the seed and the command that rebuilds its input (gen_program SEED in.abs) and quotes
// the reader's output.
#include <stdio.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "optional_tools.hpp"
#include "random_program.hpp"
#include "support.hpp"
#include "tekconv/tekconv.hpp"
#ifdef TEKCONV_HAVE_DWCHECK
#include <dwarf.h>

#include "dwcheck/dwcheck.hpp"
#endif

namespace {

namespace fs = std::filesystem;

struct Program {
  uint64_t seed = 0;
  std::string family;
  std::string options;  // the tekconv options, for the reproduction command
  std::string path;     // the ELF file, empty when the conversion failed
  int status = 0;       // of the conversion
  uint16_t machine = 0;
  // What gdb is asked: ptype of every named type, function and variable, info scope of every
  // function.
  std::vector<std::string> gdb_commands;
  std::vector<std::string> libdw_problems;
};

struct Run {
  int status = -1;  // exit status, 128 + n for signal n, -1 when it could not start
  std::string out;
};

// Runs a shell command with standard error joined to standard output, bounded in time.
Run run(const std::string& command) {
  Run r;
  // No core files, no symbolized LLVM stack dumps: a crash is reported, not investigated.
  const std::string bounded =
      "ulimit -c 0; LLVM_DISABLE_SYMBOLIZATION=1 timeout -k 10 600 " + command + " 2>&1";
  FILE* f = ::popen(bounded.c_str(), "r");
  if (!f) return r;
  char buf[65536];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, f)) > 0)
    if (r.out.size() < (64u << 20)) r.out.append(buf, n);
  const int st = ::pclose(f);
  r.status = WIFEXITED(st) ? WEXITSTATUS(st) : WIFSIGNALED(st) ? 128 + WTERMSIG(st) : -1;
  return r;
}

std::string quote(const std::string& s) {
  std::string q = "'";
  for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

// The first lines of a tool's output: enough to see the cause, short enough to read.
std::string head(const std::string& text, size_t lines = 30) {
  std::istringstream in(text);
  std::string line, out;
  size_t n = 0;
  while (std::getline(in, line)) {
    if (n++ == lines) return out + "...\n";
    out += line + "\n";
  }
  return out;
}

// The programs of a seed range, converted once per test process.
class Corpus {
 public:
  Corpus(uint64_t first, uint64_t count) {
    dir_ = fs::temp_directory_path() /
           ("tekconv-readers-" + std::to_string(::getpid()) + "-" + std::to_string(first));
    fs::create_directories(dir_);
    FILE* null = std::fopen("/dev/null", "w");
    for (uint64_t seed = first; seed < first + count; ++seed) {
      const tekrec::RandomProgram rp = tekrec::random_program(seed);
      Program p;
      p.seed = seed;
      p.family = rp.family;
      for (const std::string& o : rp.options()) p.options += o + " ";
      tekconv::Options o;
      o.short_pointers = rp.short_pointers;
      o.full_paths = rp.full_paths;
      o.console = null;
      std::vector<uint8_t> elf;
      p.status = tekconv::convert_elf(rp.object.bytes(), elf, o);
      if (p.status == 0 && elf.size() > 20) {
        p.path = (dir_ / (std::to_string(seed) + ".elf")).string();
        std::ofstream(p.path, std::ios::binary)
            .write(reinterpret_cast<const char*>(elf.data()), static_cast<long>(elf.size()));
        p.machine =
            static_cast<uint16_t>(elf[5] == 2 ? elf[18] << 8 | elf[19] : elf[19] << 8 | elf[18]);
#ifdef TEKCONV_HAVE_DWCHECK
        const dwcheck::Report r = dwcheck::check(elf);
        p.libdw_problems = r.problems;
        // Every program has a debug unit, so the file has a compilation unit.
        if (r.units == 0) p.libdw_problems.push_back("no compilation unit in .debug_info");
        // A base type name of several words ("near pointer") is quoted: gdb's expression parser
        // takes only C's own keywords apart.
        for (const dwcheck::NamedType& t : r.types)
          p.gdb_commands.push_back("ptype " + (t.keyword.empty() ? "" : t.keyword + " ") +
                                   (t.keyword.empty() && t.name.find(' ') != std::string::npos
                                        ? "'" + t.name + "'"
                                        : t.name));
        // The type of each function, and where its locals live (registers, frame, pieces).
        for (const std::string& f : r.functions) {
          p.gdb_commands.push_back("ptype " + f);
          p.gdb_commands.push_back("info scope " + f);
        }
        for (const std::string& v : r.variables) p.gdb_commands.push_back("ptype " + v);
        // Each question once (units repeat the base types).
        std::set<std::string> asked;
        std::erase_if(p.gdb_commands,
                      [&](const std::string& c) { return !asked.insert(c).second; });
#endif
      }
      programs_.push_back(std::move(p));
    }
    std::fclose(null);
  }
  ~Corpus() {
    std::error_code ec;
    fs::remove_all(dir_, ec);
  }
  const std::vector<Program>& programs() const {
    return programs_;
  }

 private:
  fs::path dir_;
  std::vector<Program> programs_;
};

// One reader's verdicts: the failing programs with the reader's words, counted by family.
class Verdicts {
 public:
  explicit Verdicts(std::string reader) : reader_(std::move(reader)) {}
  void fail(const Program& p, const std::string& output) {
    std::lock_guard<std::mutex> lock(m_);
    failed_[p.seed] = {p.family, p.options, output};
  }
  void passed(const Program& p) {
    std::lock_guard<std::mutex> lock(m_);
    ++checked_[p.family];
  }
  // One test failure per failing program (the first 40 in full), then a summary.
  void report(size_t total) {
    size_t shown = 0;
    std::map<std::string, size_t> by_family;
    for (const auto& [seed, f] : failed_) {
      ++by_family[f.family];
      if (shown++ < 40)
        ADD_FAILURE() << reader_ << " fails on the program of seed " << seed << " (" << f.family
                      << "); rebuild it with: gen_program " << seed << " in.abs && tekconv "
                      << f.options << "in.abs\n"
                      << head(f.output);
    }
    // TEKCONV_READERS_LOG names a file that receives every failure, for sorting by cause.
    if (const char* log = std::getenv("TEKCONV_READERS_LOG")) {
      std::ofstream out(log, std::ios::app);
      for (const auto& [seed, f] : failed_)
        out << "@@ " << reader_ << " | seed " << seed << " | " << f.family << "\n"
            << head(f.output, 60);
    }
    std::string summary;
    for (const auto& [family, n] : by_family) summary += " " + family + ":" + std::to_string(n);
    if (!failed_.empty())
      ADD_FAILURE() << reader_ << ": " << failed_.size() << " of " << total
                    << " programs fail (by family:" << summary << ")";
    std::printf("[ readers  ] %s: %zu of %zu programs fail\n", reader_.c_str(), failed_.size(),
                total);
  }

 private:
  struct Failure {
    std::string family, options, output;
  };
  std::string reader_;
  std::mutex m_;
  std::map<uint64_t, Failure> failed_;
  std::map<std::string, size_t> checked_;
};

// Runs jobs on two threads (the machine's share); each job is one tool process.
template <typename Job>
void in_parallel(size_t count, Job job) {
  std::mutex m;
  size_t next = 0;
  auto worker = [&] {
    for (;;) {
      size_t i;
      {
        std::lock_guard<std::mutex> lock(m);
        if (next == count) return;
        i = next++;
      }
      job(i);
    }
  };
  std::thread t(worker);
  worker();
  t.join();
}

// Batches of programs with an ELF file, for tools that take several files per run.
std::vector<std::vector<const Program*>> batches(const std::vector<Program>& programs, size_t size,
                                                 bool (*wanted)(const Program&) = nullptr) {
  std::vector<std::vector<const Program*>> out;
  for (const Program& p : programs) {
    if (p.path.empty() || (wanted && !wanted(p))) continue;
    if (out.empty() || out.back().size() == size) out.emplace_back();
    out.back().push_back(&p);
  }
  return out;
}

std::string files_of(const std::vector<const Program*>& batch) {
  std::string s;
  for (const Program* p : batch) s += " " + quote(p->path);
  return s;
}

// A reader that takes several files: each batch runs once; when the run as a whole is not
// clean, each file of the batch runs alone, so that every verdict belongs to one file.
void check_batched(const std::vector<Program>& programs, Verdicts& v, size_t batch_size,
                   const std::string& command, bool (*clean)(const Run&)) {
  const auto all = batches(programs, batch_size);
  in_parallel(all.size(), [&](size_t i) {
    const Run whole = run(command + files_of(all[i]));
    if (clean(whole)) {
      for (const Program* p : all[i]) v.passed(*p);
      return;
    }
    for (const Program* p : all[i]) {
      const Run one = run(command + " " + quote(p->path));
      if (clean(one))
        v.passed(*p);
      else
        v.fail(*p, "exit status " + std::to_string(one.status) + "\n" + one.out);
    }
  });
}

size_t occurrences(const std::string& text, const std::string& what) {
  size_t n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

bool verify_clean(const Run& r) {
  // "No errors." for each file, and no error line (a warning, such as a unit DIE that
  // announces children and has none, is legal DWARF).
  return r.status == 0 && occurrences(r.out, "Verifying ") > 0 &&
         occurrences(r.out, "No errors.") == occurrences(r.out, "file format") &&
         r.out.find("error:") == std::string::npos;
}

bool dump_clean(const Run& r) {
  return r.status == 0;
}

bool readelf_clean(const Run& r) {
  return r.status == 0 && r.out.empty();
}

// The gdb architecture of an ELF machine, when gdb-multiarch knows it.
std::string gdb_architecture(uint16_t machine) {
  switch (machine) {
    case 3:
      return "i386";
    case 4:
      return "m68k";
    case 20:
      return "powerpc:common";
    case 40:
      return "arm";
    case 42:
      return "sh";
    case 46:
      return "h8300";
    default:
      return "";
  }
}

const std::set<std::string>& gdb_architectures() {
  static const std::set<std::string> known = [] {
    std::set<std::string> s;
    const Run r = run("gdb-multiarch -nx -batch -ex 'set architecture'");
    std::string list = r.out.substr(std::min(r.out.size(), r.out.find("are ") + 4));
    std::istringstream in(list);
    std::string item;
    while (std::getline(in, item, ',')) {
      item.erase(0, item.find_first_not_of(" \n"));
      item.erase(item.find_last_not_of(" .\n") + 1);
      s.insert(item);
    }
    return s;
  }();
  return known;
}

bool gdb_knows(const Program& p) {
  const std::string arch = gdb_architecture(p.machine);
  return !arch.empty() && gdb_architectures().count(arch);
}

// What gdb prints when it finds the debug information wrong, or fails itself.
bool gdb_complains(const std::string& out) {
  for (const char* s :
       {"During symbol reading", "internal-error", "Fatal signal", "warning:", "Dwarf Error",
        "DWARF Error", "No symbol", "No struct type", "No union type", "No enum type",
        "Segmentation fault", "Aborted", "recursion", "Error", "Unable to access DWARF register",
        "bad DWARF register"})
    if (out.find(s) != std::string::npos) return true;
  return false;
}

std::string gdb_command(const std::vector<const Program*>& batch) {
  std::string c = "gdb-multiarch -nx -batch -ex 'set complaints 1000' -ex 'set pagination off'";
  c += " -ex 'set width 0' -ex 'set max-value-size unlimited'";
  for (const Program* p : batch) {
    c += " -ex " + quote("echo @@file " + std::to_string(p->seed) + "\\n");
    c += " -ex " + quote("file " + p->path) + " -ex 'info functions' -ex 'info types'";
    for (const std::string& cmd : p->gdb_commands) c += " -ex " + quote(cmd);
  }
  return c;
}

// One gdb process reads a batch of files, each behind a marker line. A file whose part of the
// output is complete (gdb went on to the next file, or ended normally) is judged by its part;
// when gdb dies, the file it was reading fails with what it printed, and the files it never
// reached run as a batch of their own.
void gdb_batch(const std::vector<const Program*>& batch, Verdicts& v) {
  if (batch.empty()) return;
  const Run whole = run(gdb_command(batch));
  std::map<uint64_t, std::string> parts;
  uint64_t at = UINT64_MAX;
  std::istringstream in(whole.out);
  std::string line;
  while (std::getline(in, line)) {
    if (line.rfind("@@file ", 0) == 0) {
      at = std::stoull(line.substr(7));
      parts[at];
      continue;
    }
    if (at != UINT64_MAX) parts[at] += line + "\n";
  }
  for (size_t k = 0; k < batch.size(); ++k) {
    const Program* p = batch[k];
    const auto it = parts.find(p->seed);
    if (it == parts.end()) {
      if (k == 0)  // gdb died before the first file: judged alone
        v.fail(*p, "exit status " + std::to_string(whole.status) + "\n" + whole.out);
      gdb_batch({batch.begin() + static_cast<long>(k) + (k == 0), batch.end()}, v);
      return;
    }
    const bool complete =
        whole.status == 0 || (k + 1 < batch.size() && parts.count(batch[k + 1]->seed));
    if (complete && !gdb_complains(it->second))
      v.passed(*p);
    else
      v.fail(*p,
             (complete ? "" : "exit status " + std::to_string(whole.status) + "\n") + it->second);
  }
}

void check_gdb(const std::vector<Program>& programs, Verdicts& v) {
  const auto all = batches(programs, 20, gdb_knows);
  in_parallel(all.size(), [&](size_t i) { gdb_batch(all[i], v); });
}

class ReadersTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite(uint64_t first, uint64_t count) {
    corpus_ = new Corpus(first, count);
    total_ = 0;
    std::set<std::string> families;
    for (const Program& p : corpus_->programs())
      if (!p.path.empty()) {
        ++total_;
        families.insert(p.family);
      }
    families_ = families.size();
  }
  static void TearDownTestSuite() {
    delete corpus_;
    corpus_ = nullptr;
  }
  const std::vector<Program>& programs() { return corpus_->programs(); }

  void converts() {
    for (const Program& p : programs())
      EXPECT_EQ(p.status, 0) << "seed " << p.seed << ": tekconv " << p.options << "in.abs";
    EXPECT_EQ(families_, tekrec::random_program_families().size());
  }
  void llvm_verify() {
    TEKTEST_REQUIRE_TOOL("llvm-dwarfdump");
    Verdicts v("llvm-dwarfdump --verify");
    check_batched(programs(), v, 25, "llvm-dwarfdump --verify", verify_clean);
    v.report(total_);
  }
  void llvm_dump() {
    TEKTEST_REQUIRE_TOOL("llvm-dwarfdump");
    Verdicts v("llvm-dwarfdump --debug-info --debug-line");
    check_batched(programs(), v, 25,
                  "sh -c 'llvm-dwarfdump --debug-info --debug-line \"$@\" >/dev/null' sh",
                  dump_clean);
    v.report(total_);
  }
  void readelf() {
    TEKTEST_REQUIRE_TOOL("readelf");
    Verdicts v("readelf --debug-dump=info,rawline,aranges");
    check_batched(programs(), v, 25,
                  "sh -c 'readelf --debug-dump=info,rawline,aranges \"$@\" >/dev/null' sh",
                  readelf_clean);
    v.report(total_);
  }
  void gdb() {
    TEKTEST_REQUIRE_TOOL("gdb-multiarch", "libdw");  // libdw names the types to ask gdb about
#ifndef TEKCONV_HAVE_DWCHECK
    GTEST_SKIP() << "the libdw checker is not built";
#endif
    Verdicts v("gdb-multiarch");
    check_gdb(programs(), v);
    size_t known = 0;
    for (const Program& p : programs()) known += !p.path.empty() && gdb_knows(p);
    v.report(known);
    EXPECT_GT(known, 0u);
  }
  void libdw() {
    TEKTEST_REQUIRE_TOOL("libdw");
#ifndef TEKCONV_HAVE_DWCHECK
    GTEST_SKIP() << "the libdw checker is not built";
#endif
    Verdicts v("libdw");
    for (const Program& p : programs()) {
      if (p.path.empty()) continue;
      std::string text;
      for (const std::string& s : p.libdw_problems) text += s + "\n";
      if (text.empty())
        v.passed(p);
      else
        v.fail(p, text);
    }
    v.report(total_);
  }

  static Corpus* corpus_;
  static size_t total_;
  static size_t families_;
};

Corpus* ReadersTest::corpus_ = nullptr;
size_t ReadersTest::total_ = 0;
size_t ReadersTest::families_ = 0;

// Seeds 0 to 23: three programs of each family, in seconds.
class ElfReadersSample : public ReadersTest {
 protected:
  static void SetUpTestSuite() { ReadersTest::SetUpTestSuite(0, 24); }
};

// Seeds from 100000 on, TEKCONV_CORPUS_PROGRAMS of them (2000 by default): minutes.
class DISABLED_ElfReadersCorpus : public ReadersTest {
 protected:
  static void SetUpTestSuite() {
    const char* n = std::getenv("TEKCONV_CORPUS_PROGRAMS");
    ReadersTest::SetUpTestSuite(100000, n ? std::strtoull(n, nullptr, 10) : 2000);
  }
};

#define READER_TESTS(Fixture)   \
  TEST_F(Fixture, Converts) {   \
    converts();                 \
  }                             \
  TEST_F(Fixture, LlvmVerify) { \
    llvm_verify();              \
  }                             \
  TEST_F(Fixture, LlvmDump) {   \
    llvm_dump();                \
  }                             \
  TEST_F(Fixture, Readelf) {    \
    readelf();                  \
  }                             \
  TEST_F(Fixture, Gdb) {        \
    gdb();                      \
  }                             \
  TEST_F(Fixture, Libdw) {      \
    libdw();                    \
  }

READER_TESTS(ElfReadersSample)
READER_TESTS(DISABLED_ElfReadersCorpus)

// The generator: the same bytes for the same seed, every family in turn, and the shapes that
// the readers are to meet all present in a short run of seeds.
TEST(RandomProgram, DeterministicPerSeedAndCoversTheShapes) {
  EXPECT_EQ(tekrec::random_program(7).object.bytes(), tekrec::random_program(7).object.bytes());
  EXPECT_NE(tekrec::random_program(7).object.bytes(), tekrec::random_program(15).object.bytes());
  std::set<std::string> families, shapes;
  for (uint64_t seed = 0; seed < 400; ++seed) {
    const tekrec::RandomProgram p = tekrec::random_program(seed);
    families.insert(p.family);
    shapes.insert(p.shapes.begin(), p.shapes.end());
  }
  EXPECT_EQ(families.size(), tekrec::random_program_families().size());
  for (const char* s : {"empty source name",
                        "path-only source name",
                        "DOS paths",
                        "pointer to itself",
                        "arrays of each other",
                        "function type returning itself",
                        "function type whose parameter is itself",
                        "data at the top of the address space",
                        "code at the top of the address space",
                        "function ending at 2^32",
                        "tens of thousands of one-byte ranges",
                        "2-byte pointers (-ps)",
                        "bit-fields",
                        "scope without ENDLOCAL",
                        "empty module name",
                        "image out of address order",
                        "overlapping functions",
                        "array bound 0xFFFFFFFF",
                        "code labels",
                        "type id defined twice",
                        "register pairs and lists",
                        "debug unit without SRCFILES",
                        "types repeated by several units"})
    EXPECT_TRUE(shapes.count(s)) << s;
}

}  // namespace

#ifdef TEKCONV_HAVE_DWCHECK
namespace {

// A DWARF 4 unit built DIE by DIE, in a minimal little-endian ELF file: the libdw checker's
// own inputs, each with one fault or none.
enum Abbrev : uint8_t { CU = 1, BASE, POINTER, STRUCT, SUBROUTINE, PARAMETER, AGGREGATE, MEMBER };

// .debug_abbrev: each abbreviation's code, tag, children flag and (attribute, form) pairs.
std::vector<uint8_t> abbreviations() {
  struct Row {
    uint8_t code, tag, children;
    std::vector<std::pair<uint8_t, uint8_t>> attributes;
  };
  const Row rows[] = {
      {CU, DW_TAG_compile_unit, 1, {{DW_AT_name, DW_FORM_string}}},
      {BASE, DW_TAG_base_type, 0, {{DW_AT_name, DW_FORM_string}, {DW_AT_byte_size, DW_FORM_data1}}},
      {POINTER, DW_TAG_pointer_type, 0, {{DW_AT_type, DW_FORM_ref4}}},
      {STRUCT, DW_TAG_structure_type, 0, {{DW_AT_name, DW_FORM_string}}},
      {SUBROUTINE, DW_TAG_subroutine_type, 1, {{DW_AT_type, DW_FORM_ref4}}},
      {PARAMETER, DW_TAG_formal_parameter, 0, {{DW_AT_type, DW_FORM_ref4}}},
      {AGGREGATE, DW_TAG_structure_type, 1, {{DW_AT_name, DW_FORM_string}}},
      {MEMBER, DW_TAG_member, 0, {{DW_AT_type, DW_FORM_ref4}}},
  };
  std::vector<uint8_t> b;
  for (const Row& r : rows) {
    b.insert(b.end(), {r.code, r.tag, r.children});
    for (const auto& [attribute, form] : r.attributes) b.insert(b.end(), {attribute, form});
    b.insert(b.end(), {0, 0});
  }
  b.push_back(0);
  return b;
}

const std::vector<uint8_t> ABBREVS = abbreviations();

class Unit {
 public:
  Unit() : b_(11, 0) { die(CU).str("a.c"); }
  uint32_t at() const { return static_cast<uint32_t>(b_.size()); }
  Unit& die(uint8_t abbrev) { return u8(abbrev); }
  Unit& end_children() { return u8(0); }
  Unit& u8(uint8_t v) {
    b_.push_back(v);
    return *this;
  }
  Unit& ref(uint32_t v) {
    for (int i = 0; i < 4; ++i) u8(static_cast<uint8_t>(v >> (8 * i)));
    return *this;
  }
  Unit& str(const std::string& s) {
    b_.insert(b_.end(), s.begin(), s.end());
    return u8(0);
  }
  // The ELF file: the unit (its children closed), .debug_abbrev and the section names.
  std::vector<uint8_t> elf() const {
    std::vector<uint8_t> info = b_;
    info.push_back(0);
    put(info, 0, static_cast<uint32_t>(info.size() - 4), 4);
    put(info, 4, 4, 2);  // version; abbreviations at 0, addresses of 4 bytes
    info[10] = 4;
    const std::string names = std::string("\0.debug_abbrev\0.debug_info\0.shstrtab\0", 37);
    std::vector<uint8_t> f;
    f.reserve(1024);
    f.resize(52);
    const uint32_t abbrev_at = 52, info_at = abbrev_at + static_cast<uint32_t>(ABBREVS.size());
    const uint32_t names_at = info_at + static_cast<uint32_t>(info.size());
    f.insert(f.end(), ABBREVS.begin(), ABBREVS.end());
    f.insert(f.end(), info.begin(), info.end());
    f.insert(f.end(), names.begin(), names.end());
    const uint32_t shoff = static_cast<uint32_t>(f.size());
    const uint32_t sections[4][4] = {{0, 0, 0, 0},
                                     {1, 1, abbrev_at, static_cast<uint32_t>(ABBREVS.size())},
                                     {15, 1, info_at, static_cast<uint32_t>(info.size())},
                                     {27, 3, names_at, static_cast<uint32_t>(names.size())}};
    for (const auto& s : sections) {
      std::vector<uint8_t> h(40, 0);
      put(h, 0, s[0], 4);
      put(h, 4, s[1], 4);
      put(h, 16, s[2], 4);
      put(h, 20, s[3], 4);
      put(h, 32, s[1] ? 1 : 0, 4);
      f.insert(f.end(), h.begin(), h.end());
    }
    const uint8_t ident[] = {0x7F, 'E', 'L', 'F', 1, 1, 1};
    for (size_t i = 0; i < sizeof ident; ++i) f[i] = ident[i];
    put(f, 16, 2, 2);  // ET_EXEC
    put(f, 18, 3, 2);  // EM_386
    put(f, 20, 1, 4);  // EV_CURRENT
    put(f, 32, shoff, 4);
    put(f, 40, 52, 2);  // e_ehsize
    put(f, 46, 40, 2);  // e_shentsize
    put(f, 48, 4, 2);   // e_shnum
    put(f, 50, 3, 2);   // e_shstrndx
    return f;
  }

 private:
  static void put(std::vector<uint8_t>& v, size_t at, uint32_t value, int width) {
    for (int i = 0; i < width; ++i) v[at + i] = static_cast<uint8_t>(value >> (8 * i));
  }
  std::vector<uint8_t> b_;
};

std::string problems_of(const Unit& u) {
  std::string s;
  for (const std::string& p : dwcheck::check(u.elf()).problems) s += p + "\n";
  return s;
}

TEST(DwCheck, SoundTypesHaveNoProblemAndAreListed) {
  Unit u;
  const uint32_t base = u.at();
  u.die(BASE).str("int").u8(4);
  const uint32_t tag = u.at();
  u.die(STRUCT).str("node");
  u.die(POINTER).ref(tag);
  u.die(POINTER).ref(base);
  const dwcheck::Report r = dwcheck::check(u.elf());
  EXPECT_EQ(r.problems, std::vector<std::string>{});
  EXPECT_EQ(r.units, 1u);
  EXPECT_EQ(r.dies, 5u);
  ASSERT_EQ(r.types.size(), 2u);
  EXPECT_EQ(r.types[0].name, "int");
  EXPECT_EQ(r.types[1].keyword + " " + r.types[1].name, "struct node");
}

TEST(DwCheck, TypeCyclesThroughNoAggregateAreFound) {
  Unit self;  // a pointer to itself
  const uint32_t p = self.at();
  self.die(POINTER).ref(p);
  EXPECT_EQ(problems_of(self), "type cycle through no structure, union or enumeration: 0x" +
                                   (std::stringstream() << std::hex << p).str() +
                                   " pointer_type -> 0x" +
                                   (std::stringstream() << std::hex << p).str() + "\n");

  Unit param;  // a function type whose parameter is of that function type
  const uint32_t f = param.at();
  param.die(SUBROUTINE).ref(f + 100);
  param.die(PARAMETER).ref(f).end_children();
  // The return type lies past the unit: libdw refuses the reference.
  const std::string text = problems_of(param);
  EXPECT_NE(text.find("subroutine_type -> 0x"), std::string::npos) << text;
  EXPECT_NE(text.find("attribute 0x49 form 0x13: dwarf_formref_die: invalid DWARF"),
            std::string::npos)
      << text;

  Unit through_struct;  // pointer -> pointer -> struct: ends at the structure
  const uint32_t q = through_struct.at();
  through_struct.die(POINTER).ref(q + 5);
  through_struct.die(POINTER).ref(q + 10);
  through_struct.die(STRUCT).str("s");
  EXPECT_EQ(problems_of(through_struct), "");
}

TEST(DwCheck, StructuresContainingThemselvesByValueAreFound) {
  Unit by_value;  // struct s { struct s m; };
  const uint32_t s = by_value.at();
  by_value.die(AGGREGATE).str("s").die(MEMBER).ref(s).end_children();
  const std::string text = problems_of(by_value);
  EXPECT_NE(text.find("type that contains itself by value: 0x"), std::string::npos) << text;

  Unit through_pointer;  // struct s { struct s *m; };
  const uint32_t t = through_pointer.at();
  through_pointer.die(AGGREGATE).str("s").die(MEMBER).ref(t + 9).end_children();
  through_pointer.die(POINTER).ref(t);
  EXPECT_EQ(problems_of(through_pointer), "");
}

TEST(DwCheck, ReferencesBetweenDiesAreChecked) {
  Unit u;
  const uint32_t base = u.at();
  u.die(BASE).str("int").u8(4);
  u.die(POINTER).ref(base + 1);  // into the middle of the base type
  EXPECT_NE(problems_of(u).find("where no DIE begins"), std::string::npos) << problems_of(u);
}

}  // namespace
#endif
