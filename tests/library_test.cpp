// The library: in memory it gives the same context bytes and the same console text as the
// command line, in every run mode; each run mode's records reach its own output only; a sink
// sees every record with the values that reproduce the context file.
#include <stdio.h>
#include <stdlib.h>

#include <functional>
#include <map>

#include "core/converter.hpp"
#include "core/run.hpp"
#include "example_program.hpp"
#include "format/ctx/tags.hpp"
#include "sample_programs.hpp"
#include "support.hpp"
#include "tekconv/tekconv.hpp"

using namespace tektest;

namespace {

class LibraryTest : public TempDirTest {};

// What a library call printed on the console, and its status.
struct Printed {
  int status = 0;
  std::string text;
};

Printed capture(const std::function<int(FILE*)>& call) {
  char* text = nullptr;
  size_t size = 0;
  FILE* console = ::open_memstream(&text, &size);
  Printed p;
  p.status = call(console);
  std::fclose(console);
  p.text.assign(text, size);
  std::free(text);
  return p;
}

struct OptionSet {
  std::vector<std::string> args;
  tekconv::Options options;
};

std::vector<OptionSet> option_sets() {
  std::vector<OptionSet> sets(5);
  sets[1].args = {"-l"};
  sets[1].options.far_functions = true;
  sets[2].args = {"-ps"};
  sets[2].options.short_pointers = true;
  sets[3].args = {"-m16"};
  sets[3].options.m16 = true;
  sets[4].args = {"-fullpath"};
  sets[4].options.full_paths = true;
  for (OptionSet& s : sets) s.options.companions = tekconv::companions_in("");
  return sets;
}

const std::pair<const char*, tekconv::Dump> DUMPS[] = {
    {"-s", tekconv::Dump::All},      {"-sf", tekconv::Dump::Files},  {"-st", tekconv::Dump::Types},
    {"-sg", tekconv::Dump::Publics}, {"-ss", tekconv::Dump::Scopes}, {"-sl", tekconv::Dump::Locals},
};

std::vector<std::string> with(std::vector<std::string> args, const std::string& more) {
  args.push_back(more);
  return args;
}

TEST_F(LibraryTest, InMemoryRunsEqualTheCommandLine) {
  for (const tekrec::Sample& sample : tekrec::sample_programs()) {
    sample.object.write("in.abs");
    if (!sample.companion.empty()) write_file("main.cpd", sample.companion);
    const Bytes input = file_bytes("in.abs");
    for (const OptionSet& set : option_sets()) {
      SCOPED_TRACE(testing::Message() << sample.name << " " << testing::PrintToString(set.args));
      tekconv::Options o = set.options;

      RunResult cli = run_tekconv(with(set.args, "in.abs"));
      Bytes context;
      Printed lib = capture([&](FILE* f) {
        o.console = f;
        return tekconv::convert(input, context, o);
      });
      EXPECT_EQ(lib.status, cli.status);
      EXPECT_EQ(cli.body(), lib.text + "Created in.ctx\n");
      EXPECT_BYTES(context, file_bytes("in.ctx"));

      for (const auto& [option, what] : DUMPS) {
        RunResult dumped = run_tekconv(with(with(set.args, option), "in.abs"));
        Printed listed = capture([&, what = what](FILE* f) {
          o.console = f;
          return tekconv::dump(input, what, o);
        });
        EXPECT_EQ(listed.status, dumped.status) << option;
        EXPECT_EQ(dumped.body(), listed.text) << option;
      }
    }
    RunResult checked = run_tekconv({"-k", "in.abs"});
    Printed check = capture([&](FILE* f) {
      tekconv::Options o = option_sets()[0].options;
      o.console = f;
      return tekconv::check(input, o);
    });
    EXPECT_EQ(check.status, checked.status) << sample.name;
    EXPECT_EQ(checked.body(), check.text) << sample.name;
  }
}

// The file forms of the library write the same context and ELF files as the command line, and
// leave no temporary file behind.
TEST_F(LibraryTest, FileConversionEqualsTheCommandLine) {
  for (const tekrec::Sample& sample : tekrec::sample_programs()) {
    SCOPED_TRACE(sample.name);
    sample.object.write("in.abs");
    write_file("main.cpd", sample.companion);
    ASSERT_EQ(run_tekconv({"in.abs"}).status, 0);
    const int elf_status = run_tekconv({"-O", "elf", "in.abs"}).status;
    tekconv::Options o;
    o.companions = tekconv::companions_in(".");
    o.console = nullptr;
    EXPECT_EQ(tekconv::convert_file("in.abs", "out.ctx", o), 0);
    EXPECT_BYTES(file_bytes("out.ctx"), file_bytes("in.ctx"));
    EXPECT_EQ(tekconv::convert_elf_file("in.abs", "out.elf", o), elf_status);
    std::vector<std::string> want = {"in.abs", "in.ctx", "main.cpd", "out.ctx"};
    if (elf_status == 0) {
      EXPECT_BYTES(file_bytes("out.elf"), file_bytes("in.elf"));
      want = {"in.abs", "in.ctx", "in.elf", "main.cpd", "out.ctx", "out.elf"};
    }
    EXPECT_EQ(dir_entries(), want);
    for (const char* f : {"in.ctx", "in.elf", "out.ctx", "out.elf"}) std::remove(f);
  }
}

// A run that fails leaves the file of an earlier run as it was, and nothing beside it: a missing
// input, a strict run on an input with a warning, an undefined type kind.
TEST_F(LibraryTest, FileConversionNeverTouchesAnEarlierFileWhenItFails) {
  tekrec::Builder warned = program();
  warned.symbol(sym(tekrec::VARIABLE, "v", tekrec::basic_type(1), tekrec::in_section(2, 1, 0, 4)));
  warned.dpt(7).end();
  warned.write("warn.abs");
  struct Case {
    const char* input;
    bool strict;
    int status;
  };
  for (const Case& c : {Case{"missing.abs", false, 255}, Case{"warn.abs", true, 2}}) {
    SCOPED_TRACE(c.input);
    tekconv::Options o;
    o.console = nullptr;
    o.strict = c.strict;
    for (const auto& [convert, name] :
         {std::pair{&tekconv::convert_file, "out.ctx"}, {&tekconv::convert_elf_file, "out.elf"}}) {
      write_file(name, "earlier");
      EXPECT_EQ(convert(c.input, name, o), c.status) << name;
      EXPECT_EQ(read_file(name), "earlier") << name;
      std::remove(name);
    }
    EXPECT_EQ(dir_entries(), std::vector<std::string>{"warn.abs"});
  }
}

// Each run mode writes to its own output only: a conversion prints nothing about a sound input,
// the dump and the check write no file.
TEST_F(LibraryTest, EachModeReachesOnlyItsOutput) {
  const Bytes input = tekrec::example_program().bytes();
  write_file("main.cpd", tekrec::example_companion());
  tekconv::Options o;
  o.companions = tekconv::companions_in("");
  Bytes context;
  Printed converted = capture([&](FILE* f) {
    o.console = f;
    return tekconv::convert(input, context, o);
  });
  EXPECT_EQ(converted.status, 0);
  EXPECT_EQ(converted.text, "");
  EXPECT_FALSE(context.empty());

  Printed dumped = capture([&](FILE* f) {
    o.console = f;
    return tekconv::dump(input, tekconv::Dump::All, o);
  });
  EXPECT_NE(dumped.text.find("\nTYPE:"), std::string::npos);
  Printed checked = capture([&](FILE* f) {
    o.console = f;
    return tekconv::check(input, o);
  });
  EXPECT_EQ(checked.text.find("\nTYPE:"), std::string::npos);
  EXPECT_NE(checked.text.find("Type index is good\n"), std::string::npos);
  EXPECT_EQ(dir_entries(), std::vector<std::string>{"main.cpd"});
}

// A sink of its own sees each record once, with the values that encode to the context file.
class Recorder : public tek::RecordSinkOf<Recorder> {
 public:
  template <class V>
  void record(const V& v) {
    tek::RecordBuffer b;
    tek::encode_record(b, v);
    Bytes& out = streams[static_cast<int>(tek::RecordInfo<V>::stream)];
    out.insert(out.end(), b.bytes, b.bytes + b.size);
    if constexpr (std::is_same_v<V, tek::ObjectValue>)
      out.insert(out.end(), v.data.begin(), v.data.end());
    ++counts[tek::RecordInfo<V>::name];
  }
  void unit_processor(uint32_t modix, int processor) override { units[modix] = processor; }
  Bytes streams[3];
  std::map<std::string, int> counts;
  std::map<uint32_t, int> units;
};

TEST_F(LibraryTest, ASinkSeesEveryRecordWithItsValues) {
  const Bytes input = tekrec::example_program().bytes();
  write_file("main.cpd", tekrec::example_companion());
  Bytes context;
  tekconv::Options o;
  o.companions = tekconv::companions_in("");
  ASSERT_EQ(tekconv::convert(input, context, o), 0);

  tek::Converter cv;
  cv.comp.lookup = tek::directory_lookup("");
  cv.rd.source = tek::InputSource{{}, true, input};
  Recorder r;
  cv.out.sink = &r;
  tek::run_pass(cv);
  Bytes joined = r.streams[0];
  joined.insert(joined.end(), r.streams[1].begin(), r.streams[1].end());
  joined.insert(joined.end(), r.streams[2].begin(), r.streams[2].end());
  EXPECT_BYTES(joined, context);
  EXPECT_EQ(r.counts["HEADER"], 1);
  EXPECT_EQ(r.counts["MODULE"], 2);
  // The example's two units: an H8 unit (code 20) and an SH unit (code 9).
  EXPECT_EQ(r.units, (std::map<uint32_t, int>{{1, 20}, {2, 9}}));
}

}  // namespace
