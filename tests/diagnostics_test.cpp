// Diagnostics: the core's report of each input problem (offset, record, severity), and the
// command line's lines on standard error, checked whole, with standard output and the files of
// the same runs as they have always been.
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "core/run.hpp"
#include "support.hpp"
#include "tekconv/tekconv.hpp"

using namespace tektest;
using tekrec::Builder;
namespace R = tekrec;

namespace {

class DiagnosticsTest : public TempDirTest {};

// A variable of type int in a section of the current unit.
R::Symbol var(const std::string& name, uint16_t section, uint32_t offset) {
  return sym(R::VARIABLE, name, R::basic_type(1), R::in_section(2, section, offset, 4));
}

std::string warning(const std::string& file, size_t offset, const std::string& text) {
  return line::fmt("tekconv: %s:0x%zx: warning: %s\n", file.c_str(), offset, text.c_str());
}
std::string error(const std::string& text) {
  return "tekconv: error: " + text + "\n";
}

const std::string NOT_TEKA = "not a TEKA object file: it does not begin with an HDR record";
const std::string CUT = "the input ends before its END record (cut short?); the pass ends here";
const std::string DPT7 = "DPT record: pointer size 7 is not 2, 3, 4 or 15; the record is skipped";
const std::string NO_CPD =
    "SRCFILES record: companion file 'main.cpd' of source file 'main.c' not found; its renames "
    "and class marks are not applied";

// Runs the converter in the current directory on the input, written as in.abs.
struct Run {
  std::vector<std::string> options;
  std::string out;  // standard output after the banner
  std::string err;
  int status = 0;
};

void expect_run(const Bytes& input, const Run& run, const std::string& file = "in.abs") {
  write_file(file, std::string(input.begin(), input.end()));
  std::vector<std::string> args = run.options;
  args.push_back(file);
  RunResult r = run_binary_stderr(args);
  EXPECT_EQ(r.status, run.status) << testing::PrintToString(args);
  EXPECT_EQ(r.body(), run.out) << testing::PrintToString(args);
  EXPECT_EQ(r.err, run.err) << testing::PrintToString(args);
}

// Inputs that are no TEKA object file: one line says so, and the run goes on as it always did.
TEST_F(DiagnosticsTest, InputThatIsNoTekaFile) {
  const std::string text = "hello\n";
  expect_run(Bytes(text.begin(), text.end()),
             {{}, "Created t.ctx\n", warning("t.txt", 0, NOT_TEKA), 0}, "t.txt");
  EXPECT_BYTES(file_bytes("t.ctx"), Ctx().predefined().bytes());
  expect_run(
      {},
      {{}, "Created e.ctx\n", warning("e.abs", 0, "not a TEKA object file: the input is empty"), 0},
      "e.abs");
  EXPECT_BYTES(file_bytes("e.ctx"), Ctx().predefined().bytes());
  // A UNIT record first: the input has a known record, but no HDR.
  Builder unit_first;
  unit_first.unit("m", "SH7032", 1, 0x04).end();
  expect_run(unit_first.bytes(), {{"-s"}, predefined_dump(), warning("in.abs", 0, NOT_TEKA), 0});
}

// Inputs cut short: at a record boundary, and inside a record whose fields then read as 0.
// Either way the pass meets a code 0 where the input ends.
TEST_F(DiagnosticsTest, InputCutShort) {
  Builder b = program();
  b.symbol(var("v", 1, 4));
  const size_t boundary = b.bytes().size();
  b.data({1, 2, 3, 4, 5, 6, 7, 8}).end();
  const Bytes whole = b.bytes();
  for (size_t cut : {boundary, boundary + 5}) {
    SCOPED_TRACE(cut);
    const Bytes input(whole.begin(), whole.begin() + static_cast<long>(cut));
    expect_run(input, {{}, "Invalid record\nCreated in.ctx\n", warning("in.abs", cut, CUT), 0});
    // Standard output is the dump it always was; the warning names the same place.
    expect_run(input, {{"-sg"},
                       line::header() + "Invalid record\n" + line::pub(0x2004, T_INT, "v"),
                       warning("in.abs", cut, CUT),
                       0});
  }
}

// One line for the problem that ends the pass, each with the record's own offset.
TEST_F(DiagnosticsTest, ProblemsThatEndThePass) {
  struct Case {
    const char* name;
    void (*add)(Builder&);
    std::string out;   // standard output of the dump, after the lines of program()
    std::string text;  // the warning's text
  };
  const Case cases[] = {
      {"symbol in an undefined section", [](Builder& b) { b.symbol(var("v", 7, 0)); },
       "Invalid section number (SYMBOL)\n",
       "SYMBOL record: section 7 is not defined in this unit; the symbol 'v' is dropped and the "
       "pass ends here"},
      {"LOCATE of an undefined section", [](Builder& b) { b.locate(3); },
       "Invalid section number (LOCATE)\n",
       "LOCATE record: section 3 is not defined in this unit; the pass ends here"},
      {"SECT of an undefined unit", [](Builder& b) { b.sect(4, 0); },
       "Invalid section number (SECT)\n", "SECT record: unit 4 is not defined; the pass ends here"},
      {"SECT of an undefined section", [](Builder& b) { b.sect(0, 3); },
       "Invalid section number (SECT)\n",
       "SECT record: unit 0 has no section 3; the pass ends here"},
      {"CL past the declared sections", [](Builder& b) { b.cl(0x4000, "X"); },
       "Invalid section number (CL)\n",
       "CL record: the unit declares 3 sections and this would be one more; the pass ends here"},
      {"CL of an unsupported form", [](Builder& b) { b.cl(0x4000, "X", 0x08); },
       "Not support record (CL)\n",
       "CL record: flag 0x08 is set (flags 0x08), a form that is not supported; the pass ends "
       "here"},
      {"unknown record code", [](Builder& b) { b.record(0x12, R::Fields().u8(0)); },
       "Invalid record\n", "record code 0x12 is not a TEKA record; the pass ends here"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Builder b = program();
    const size_t at = b.bytes().size();
    c.add(b);
    b.symbol(var("after", 1, 0)).end();
    const std::string head = line::header() + line::module(1, "m");
    expect_run(b.bytes(),
               {{"-s"}, predefined_dump() + head + c.out, warning("in.abs", at, c.text), 0});
    expect_run(b.bytes(), {{}, c.out + "Created in.ctx\n", warning("in.abs", at, c.text), 0});
  }
  // A header of an undefined type: the first record already ends the pass.
  Builder bad_header;
  bad_header.hdr(16).end();
  expect_run(
      bad_header.bytes(),
      {{},
       "Invalid record type (HDR)\nCreated in.ctx\n",
       warning("in.abs", 0, "HDR record: header type 16 is not one of 0 to 15; the pass ends here"),
       0});
}

// Warnings that let the pass go on: counted by default, listed with -v, each at its record.
// A member written out at a later record is reported at its own SYMBOL record.
TEST_F(DiagnosticsTest, WarningsAreCountedOrListed) {
  Builder b = program();
  b.symbol(var("v", 1, 0));
  const size_t first = b.bytes().size();
  b.dpt(7);
  const size_t second = b.bytes().size();
  b.dpt(7);
  const size_t member = b.bytes().size();
  b.symbol(tektest::member("m", 1, 0));
  const size_t cut = b.bytes().size();  // the input ends here
  const std::string out =
      "Found invalid pointer type 07 (DPT)\nFound invalid pointer type 07 (DPT)\n"
      "Invalid record\nlogic error (member set)\nCreated in.ctx\n";
  const std::string member_text =
      "SYMBOL record: member 'm' is outside an aggregate body; it is dropped";
  expect_run(b.bytes(),
             {{},
              out,
              warning("in.abs", cut, CUT) + "tekconv: 3 warnings; run with -v to list them\n",
              0});
  expect_run(b.bytes(), {{"-v"},
                         out,
                         warning("in.abs", first, DPT7) + warning("in.abs", second, DPT7) +
                             warning("in.abs", cut, CUT) + warning("in.abs", member, member_text),
                         0});
  Builder one = program();
  one.symbol(var("v", 1, 0)).dpt(7).end();
  expect_run(one.bytes(), {{},
                           "Found invalid pointer type 07 (DPT)\nCreated in.ctx\n",
                           "tekconv: 1 warning; run with -v to list it\n",
                           0});
}

// The type index check reads the input twice and prints each message twice, as it always did;
// a problem is reported once.
TEST_F(DiagnosticsTest, CheckReportsEachProblemOnce) {
  Builder b = program();
  b.symbol(var("v", 1, 0)).dpt(7).end();
  write_file("in.abs", std::string(b.bytes().begin(), b.bytes().end()));
  RunResult r = run_binary_stderr({"-k", "in.abs"});
  EXPECT_EQ(r.status, 0);
  const std::string dpt = "Found invalid pointer type 07 (DPT)\n";
  const std::string out = r.body();
  ASSERT_EQ(out.substr(0, 2 * dpt.size()), dpt + dpt);
  EXPECT_EQ(out.find(dpt, 2 * dpt.size()), std::string::npos);
  EXPECT_EQ(r.err, "tekconv: 1 warning; run with -v to list it\n");
}

// An H8 unit whose companion file is missing converts as it always did, with a warning of its
// own; a file that is no companion file is one too.
TEST_F(DiagnosticsTest, MissingCompanionFile) {
  Builder b = program("H8S2600");
  const size_t at = b.bytes().size();
  b.srcfiles({{"", "main.c"}}).symbol(var("_Foo", 0, 0x10)).end();
  const std::string out = line::header() + line::pub(0x1010, T_INT, "_Foo");
  expect_run(b.bytes(), {{"-sg"}, out, "tekconv: 1 warning; run with -v to list it\n", 0});
  expect_run(b.bytes(), {{"-v", "-sg"}, out, warning("in.abs", at, NO_CPD), 0});
  write_file("main.cpd", "not a companion file\n");
  expect_run(b.bytes(),
             {{"-v", "-sg"},
              out,
              warning("in.abs", at,
                      "SRCFILES record: companion file 'main.cpd' does not begin with [HD]; it is "
                      "not used"),
              0});
  // Other processors look for no companion file.
  Builder sh = program("SH7032");
  sh.srcfiles({{"", "main.c"}}).end();
  expect_run(sh.bytes(), {{"-v", "-sg"}, line::header(), "", 0});
}

// A fatal error: one line naming the file and the system's reason, the old message on standard
// output, status 255, and the files of the run removed.
TEST_F(DiagnosticsTest, FatalErrorsNameTheFileAndTheReason) {
  const Bytes input = Builder().hdr().end().bytes();
  write_file("prog.abs", std::string(input.begin(), input.end()));
  const std::string long_name(300, 'n');
  ASSERT_EQ(::mkdir("dir.abs", 0755), 0);
  struct Case {
    std::vector<std::string> args;
    std::string out;
    std::string err;
    uint64_t file_size_limit = UINT64_MAX;
  };
  const Case cases[] = {
      {{"prog.abz"},
       "Error : Cannot open file\n",
       error("cannot open 'prog.abz': No such file or directory")},
      {{"-s", "prog.abz"},
       "Error : Cannot open file\n",
       error("cannot open 'prog.abz': No such file or directory")},
      {{"dir.abs"}, "Error : Cannot open file\n", error("cannot open 'dir.abs': Is a directory")},
      // The input is opened before any output is made.
      {{long_name + ".abs"},
       "Error : Cannot open file\n",
       error("cannot open '" + long_name + ".abs': File name too long")},
      {{"-o", "no/such/dir/x.ctx", "prog.abs"},
       "Error : Cannot create file\n",
       error("cannot create 'no/such/dir/x.ctx': No such file or directory")},
      {{"-o", "dir.abs", "prog.abs"},
       "Error : Cannot create file\n",
       error("cannot create 'dir.abs': Is a directory")},
      {{"-o", "./prog.abs", "prog.abs"},
       "Error : Cannot create file\n",
       error("cannot create './prog.abs': it is the input file")},
      {{"prog.abs"},
       "Error : Write error\n",
       error("cannot write 'prog.ctx': File too large"),
       100},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.args));
    RunResult r = run_binary_stderr(c.args, c.file_size_limit);
    EXPECT_EQ(r.status, 255);
    EXPECT_EQ(r.body(), c.out);
    EXPECT_EQ(r.err, c.err);
    EXPECT_EQ(dir_entries(), (std::vector<std::string>{"dir.abs", "prog.abs"}));
    EXPECT_EQ(file_bytes("prog.abs"), input);
  }
}

// The core, in memory and from a file: each problem once, with its severity, the record's code
// and its offset, also past the first buffer of a file.
TEST_F(DiagnosticsTest, CoreReportsOffsetAndRecord) {
  Builder b = program();
  for (int i = 0; i < 5; ++i) b.data(std::vector<uint8_t>(60000, static_cast<uint8_t>(i)));
  b.symbol(var("v", 1, 0));
  const size_t dpt = b.bytes().size();
  b.dpt(7);
  const size_t locate = b.bytes().size();
  b.locate(9).end();
  ASSERT_GT(locate, size_t{1} << 18);  // beyond the first buffer of a file
  b.write("big.abs");

  const Bytes input = b.bytes();
  for (bool in_memory : {true, false}) {
    SCOPED_TRACE(in_memory);
    std::vector<tekconv::Diagnostic> seen;
    tekconv::Job job;
    job.mode = tekconv::Mode::Dump;
    job.dump = tekconv::Dump::Publics;
    job.input = in_memory ? tekconv::Source::memory(input) : tekconv::Source::file("big.abs");
    job.options.console = std::fopen("/dev/null", "w");
    job.options.diagnostics = [&](const tekconv::Diagnostic& d) { seen.push_back(d); };
    EXPECT_EQ(tekconv::run(job), tekconv::Status::Done);
    std::fclose(job.options.console);
    using S = tekconv::Diagnostic::Severity;
    ASSERT_EQ(seen.size(), 2u);  // each problem once
    EXPECT_EQ(seen[0].severity, S::Warning);
    EXPECT_TRUE(seen[0].located);
    EXPECT_EQ(seen[0].offset, dpt);
    EXPECT_EQ(seen[0].record, R::DPT);
    EXPECT_EQ(seen[1].severity, S::PassEnd);
    EXPECT_EQ(seen[1].offset, locate);
    EXPECT_EQ(seen[1].record, R::LOCATE);
    EXPECT_EQ(seen[1].text,
              "LOCATE record: section 9 is not defined in this unit; the pass ends here");
  }
}

// Every problem that the console names is reported to the diagnostics right after its console
// message. The handler writes into the console, so the run's text shows each message followed
// by its diagnostic, in the order of the two.
TEST_F(DiagnosticsTest, EachConsoleMessageIsFollowedByItsDiagnostic) {
  struct Case {
    const char* name;
    Builder input;
    std::string console;
    std::string diagnostic;  // "[severity] text"
    std::string after = {};  // the lines of a problem met later in the run
  };
  auto with = [](Builder b, const std::function<void(Builder&)>& add) {
    add(b);
    b.end();
    return b;
  };
  const std::string end = "[pass end] ";
  const std::string warn = "[warning] ";
  Builder sections;  // 0x3FFF distinct section names, then one more CL record
  sections.hdr().unit("a", "MC68000", 0x3FFF, 0x04);
  for (int i = 0; i < 0x3FFE; ++i) sections.cl(0x100, "S" + std::to_string(i));
  sections.unit("b", "MC68000", 2, 0x04).cl(0x5000, "P").cl(0x6000, "Q").end();
  Builder members = program();  // a body with one member more than the table holds
  members.symbol(structure(0x30, "S", 4)).aggr_begin();
  for (int i = 0; i < 0x4001; ++i) members.symbol(member("m", 1, 0));
  members.aggr_end().end();
  Builder no_unit;
  no_unit.hdr().locate(0).end();
  Builder bad_header;
  bad_header.hdr(16).end();
  Builder cut = program();
  cut.symbol(var("v", 1, 4));
  const Case cases[] = {
      {"HDR of an undefined type", bad_header, "Invalid record type (HDR)\n",
       end + "HDR record: header type 16 is not one of 0 to 15; the pass ends here"},
      {"CL of an unsupported form", with(program(), [](Builder& b) { b.cl(0x4000, "X", 0x08); }),
       "Not support record (CL)\n",
       end + "CL record: flag 0x08 is set (flags 0x08), a form that is not supported; the pass "
             "ends here"},
      {"CL past the declared sections", with(program(), [](Builder& b) { b.cl(0x4000, "X"); }),
       "Invalid section number (CL)\n",
       end + "CL record: the unit declares 3 sections and this would be one more; the pass ends "
             "here"},
      {"CL past the section name table", sections, "Section buffer overflow\n",
       end + "CL record: more than 16383 section names in the input; the pass ends here"},
      {"SECT of an undefined unit", with(program(), [](Builder& b) { b.sect(4, 0); }),
       "Invalid section number (SECT)\n",
       end + "SECT record: unit 4 is not defined; the pass ends here"},
      {"SECT of an undefined section", with(program(), [](Builder& b) { b.sect(0, 3); }),
       "Invalid section number (SECT)\n",
       end + "SECT record: unit 0 has no section 3; the pass ends here"},
      {"LOCATE before any unit", no_unit, "Invalid section number (LOCATE)\n",
       end + "LOCATE record: section 0, but no unit is open; the pass ends here"},
      {"AFLAG of an undefined section", with(program(), [](Builder& b) { b.aflag(5, 0, 1); }),
       "Invalid section number (AFLAG)\n",
       end + "AFLAG record: section 5 is not defined in this unit; the pass ends here"},
      {"SYMBOL in an undefined section",
       with(program(), [](Builder& b) { b.symbol(var("v", 7, 0)); }),
       "Invalid section number (SYMBOL)\n",
       end + "SYMBOL record: section 7 is not defined in this unit; the symbol 'v' is dropped and "
             "the pass ends here"},
      {"member outside a body", with(program(), [](Builder& b) { b.symbol(member("m", 1, 0)); }),
       "logic error (member set)\n",
       warn + "SYMBOL record: member 'm' is outside an aggregate body; it is dropped"},
      {"tag without a body", with(program(), [](Builder& b) { b.symbol(structure(0x30, "T", 4)); }),
       "logic error (tag set)\n",
       warn + "SYMBOL record: tag 'T' has no aggregate body after it; it is dropped"},
      {"member table full", members, "The number of members exceeded 16384\n",
       end + "SYMBOL record: aggregate body with more than 16384 members; the pass ends here",
       // The member the table had no room for is still pending when the pass ends.
       "logic error (member set)\n" + warn +
           "SYMBOL record: member 'm' is outside an aggregate body; it is dropped\n"},
      {"reference to an undefined type id",
       with(program(),
            [](Builder& b) {
              b.symbol(sym(R::VARIABLE, "v", R::type_id(0x55), R::in_section(2, 1, 0, 4)));
            }),
       "undefined id (get_sid)\n",
       warn + "SYMBOL record: type id 0x0055 is not defined; the reference gets selfix " +
           std::to_string(UNDEFINED_SELFIX) + ", which no TYPE record has"},
      {"DPT of an undefined size", with(program(), [](Builder& b) { b.dpt(7); }),
       "Found invalid pointer type 07 (DPT)\n",
       warn + "DPT record: pointer size 7 is not 2, 3, 4 or 15; the record is skipped"},
      {"DPT of the address width, which is not set",
       with(program("SH7032", 0x00), [](Builder& b) { b.dpt(15); }),
       "Found invalid pointer type (DPT)\n",
       end + "DPT record: pointer size 15 takes the address width, which no UNIT record has set; "
             "the pass ends here"},
      {"unknown record code",
       with(program(), [](Builder& b) { b.record(0x12, R::Fields().u8(0)); }), "Invalid record\n",
       end + "record code 0x12 is not a TEKA record; the pass ends here"},
      {"input cut short", cut, "Invalid record\n", end + CUT},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    char* text = nullptr;
    size_t size = 0;
    FILE* console = ::open_memstream(&text, &size);
    ASSERT_NE(console, nullptr);
    tekconv::Options o;
    o.console = console;
    o.diagnostics = [&](const tekconv::Diagnostic& d) {
      using S = tekconv::Diagnostic::Severity;
      std::fprintf(console, "[%s] %s\n", d.severity == S::Warning ? "warning" : "pass end",
                   d.text.c_str());
    };
    EXPECT_EQ(tekconv::dump(c.input.bytes(), tekconv::Dump{}, o), 0);
    std::fclose(console);
    const std::string out(text, size);
    std::free(text);
    // No dump category is selected: the console holds the problem's lines alone.
    EXPECT_EQ(out, c.console + c.diagnostic + "\n" + c.after);
  }
}

// The library hands its caller the diagnostics that tekconv -v lists, in every run mode: the same
// problems, places and texts, with their severities; a fatal error is one too.
TEST_F(DiagnosticsTest, TheLibraryReportsWhatTheCommandLineLists) {
  Builder b = program();
  b.symbol(var("v", 1, 0)).dpt(7);
  b.symbol(tektest::member("m", 1, 0));  // the input ends after it
  const Bytes input = b.bytes();
  write_file("in.abs", std::string(input.begin(), input.end()));

  struct Mode {
    std::vector<std::string> options;
    std::function<int(const tekconv::Options&)> call;
  };
  const Mode modes[] = {
      {{},
       [&](const tekconv::Options& o) {
         Bytes context;
         return tekconv::convert(input, context, o);
       }},
      {{"-s"},
       [&](const tekconv::Options& o) { return tekconv::dump(input, tekconv::Dump::All, o); }},
      // -k takes no other option: the check reports each problem once, as the conversion does.
      {{}, [&](const tekconv::Options& o) { return tekconv::check(input, o); }},
  };
  for (const Mode& m : modes) {
    SCOPED_TRACE(testing::PrintToString(m.options));
    std::vector<tekconv::Diagnostic> seen;
    tekconv::Options o;
    o.console = std::fopen("/dev/null", "w");
    o.diagnostics = [&](const tekconv::Diagnostic& d) { seen.push_back(d); };
    EXPECT_EQ(m.call(o), 0);
    std::fclose(o.console);

    std::vector<std::string> args = {"-v"};
    args.insert(args.end(), m.options.begin(), m.options.end());
    args.push_back("in.abs");
    std::string listed;
    for (const tekconv::Diagnostic& d : seen) {
      ASSERT_TRUE(d.located);
      listed += warning("in.abs", d.offset, d.text);
    }
    EXPECT_EQ(listed, run_binary_stderr(args).err);
    ASSERT_EQ(seen.size(), 3u);
    EXPECT_EQ(seen[0].severity, tekconv::Diagnostic::Severity::Warning);
    EXPECT_EQ(seen[0].record, R::DPT);
    EXPECT_EQ(seen[1].severity, tekconv::Diagnostic::Severity::PassEnd);
    EXPECT_EQ(seen[2].severity, tekconv::Diagnostic::Severity::Warning);
  }

  std::vector<tekconv::Diagnostic> seen;
  tekconv::Options o;
  o.console = std::fopen("/dev/null", "w");
  o.diagnostics = [&](const tekconv::Diagnostic& d) { seen.push_back(d); };
  EXPECT_EQ(tekconv::convert_file("missing.abs", "out.ctx", o), 255);
  std::fclose(o.console);
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0].severity, tekconv::Diagnostic::Severity::Error);
  EXPECT_FALSE(seen[0].located);
  EXPECT_EQ(error(seen[0].text), run_binary_stderr({"missing.abs"}).err);
}

}  // namespace
