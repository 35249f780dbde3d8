// DWARF of programs at the edges of what the records allow: loops of type references, source
// files without a name or with DOS paths, ranges up to the end of the address space, pointers
// of 2 bytes, registers outside the processor's table, units without a name, overlapping
// scopes, unknown array bounds, functions without a scope, labels and types defined twice.
// Each ELF file is read back by llvm-dwarfdump, readelf, llvm-symbolizer and gdb.
#include <set>
#include <sstream>

#include "elf_support.hpp"
#include "optional_tools.hpp"

using namespace elftest;
using namespace tekrec;
using tektest::sym;

namespace {

class ElfDwarf : public tektest::TempDirTest {
 protected:
  void SetUp() override {
    tektest::TempDirTest::SetUp();
    TEKTEST_REQUIRE_TOOL("llvm-dwarfdump", "readelf", "gdb-multiarch", "llvm-symbolizer");
  }

  // Converts the records to prog.elf, the units (modix 1, 2, ...) of the given processors;
  // returns the ELF writer's warnings.
  std::vector<std::string> make(const Builder& b, const std::vector<std::string>& options = {},
                                const std::vector<const char*>& processors = {"SH7032"}) {
    std::map<uint32_t, int> procs;
    for (size_t i = 0; i < processors.size(); ++i)
      procs[static_cast<uint32_t>(i + 1)] = processor_code(processors[i]);
    ElfResult r = elf_of_ctx(tektest::convert(b, options), procs);
    write_bytes("prog.elf", r.elf);
    return r.warnings;
  }

  // The output of each gdb command, and whether gdb ended normally.
  std::vector<std::string> gdb(const std::vector<std::string>& commands, bool* ok = nullptr) {
    std::string cmd = "gdb-multiarch -batch -nx";
    for (const std::string& c : commands) cmd += " -ex 'echo @@\\n' -ex '" + c + "'";
    ToolRun r = run(cmd + " prog.elf");
    if (ok) *ok = r.status == 0;
    std::vector<std::string> out;
    for (size_t at = r.out.find("@@\n"); at != std::string::npos;) {
      size_t next = r.out.find("@@\n", at + 3);
      out.push_back(r.out.substr(at + 3, next == std::string::npos ? next : next - at - 3));
      at = next;
    }
    out.resize(commands.size());
    return out;
  }

  // llvm-dwarfdump --verify finds no error, readelf reads the line programs without a word.
  void expect_valid() {
    ToolRun v = run("llvm-dwarfdump --verify prog.elf");
    EXPECT_NE(v.out.find("No errors."), std::string::npos) << v.out;
    ToolRun r = run("readelf --debug-dump=info,line,aranges,ranges prog.elf");
    EXPECT_EQ(r.status, 0);
    for (const char* bad : {"Warning", "warning", "Badly formed", "Error"})
      EXPECT_EQ(r.out.find(bad), std::string::npos) << r.out;
  }

  std::string dwarfdump(const std::string& what) {
    ToolRun r = run("llvm-dwarfdump " + what + " prog.elf");
    EXPECT_EQ(r.status, 0) << r.out;
    return r.out;
  }

  std::string symbolize(uint32_t addr) {
    char buf[80];
    std::snprintf(buf, sizeof buf, "llvm-symbolizer --obj=prog.elf 0x%x", addr);
    return run(buf).out;
  }
};

void expect_has(const std::string& text, const std::string& want) {
  EXPECT_NE(text.find(want), std::string::npos) << "want: " << want << "\nin:\n" << text;
}
void expect_lacks(const std::string& text, const std::string& unwanted) {
  EXPECT_EQ(text.find(unwanted), std::string::npos) << "unwanted: " << unwanted << "\nin:\n"
                                                    << text;
}

// SH7032 unit "m" (P at 0x1000, D at 0x2000) with 0x40 bytes of code.
Builder with_code() {
  Builder b = tektest::program();
  b.sect(0, 0).data(std::vector<uint8_t>(0x40, 0x09));
  return b;
}

// ---------------------------------------------------------------------------------------------
// Loops of type references that pass through no structure, union or enumeration.

struct LoopCase {
  const char* name;
  void (*records)(Builder&);
  std::vector<std::string> warnings;
  const char* ptype_command;
  const char* ptype;
};

const LoopCase LOOPS[] = {
    // The symbol's type is the id that its DPT record gives the pointer: a pointer to itself.
    {"PointerToItself",
     [](Builder& b) {
       b.symbol(sym(VARIABLE, "p", type_id(0x8000), in_section(2, 1, 0, 4)));
       b.dpt(0);
     },
     {"type 0x120 closes a loop of type references: its reference to type 0x120 is left out "
      "(void)"},
     "ptype p",
     "type = void *\n"},
    {"ArrayOfItself",
     [](Builder& b) {
       b.symbol(sym(VARIABLE, "a", type_id(0x8000), in_section(2, 1, 0, 12)));
       b.arrtype({2});
     },
     {"type 0x120 closes a loop of type references: its reference to type 0x120 is left out "
      "(void)"},
     "ptype a",
     "type = void [3]\n"},
    // The rows of a two-dimensional array are the array itself.
    {"ArrayRowsOfItself",
     [](Builder& b) {
       b.symbol(sym(VARIABLE, "a", type_id(0x8000), in_section(2, 1, 0, 12)));
       b.arrtype({1, 3});
     },
     {"type 0x121 closes a loop of type references: its reference to type 0x120 is left out "
      "(void)"},
     "ptype a",
     "type = void [2][4]\n"},
    // A function's parameter of the function's own type.
    {"ParameterOfItsFunctionsType",
     [](Builder& b) {
       b.symbol(sym(FUNCTION, "f", basic_type(1), in_section(2, 0, 0x10, 0x20), 0x20));
       b.attr(0x00, 1);
       b.symbol(sym(VARIABLE, "fp", type_id(0x20), in_frame(8)));
       b.blkend(0x40);
     },
     {"function type 0x120 has a parameter whose type leads back to it: its parameters are "
      "written as unknown"},
     "ptype f",
     "type = int (int (void))\n"},
    // A parameter that points to its function's type.
    {"ParameterPointsToItsFunctionsType",
     [](Builder& b) {
       b.symbol(sym(FUNCTION, "f", basic_type(1), in_section(2, 0, 0x10, 0x20), 0x20));
       b.attr(0x00, 1);
       b.symbol(sym(VARIABLE, "fp", type_id(0x20), in_frame(8)));
       b.dpt(0);
       b.blkend(0x40);
     },
     {"function type 0x120 has a parameter whose type leads back to it: its parameters are "
      "written as unknown"},
     "ptype f",
     "type = int (int (*)(void))\n"},
};

void PrintTo(const LoopCase& c, std::ostream* os) {
  *os << c.name;
}

class ElfDwarfLoops : public ElfDwarf, public ::testing::WithParamInterface<LoopCase> {};

TEST_P(ElfDwarfLoops, AreBrokenAndReadersEnd) {
  const LoopCase& c = GetParam();
  Builder b = with_code();
  c.records(b);
  b.end();
  EXPECT_EQ(make(b), c.warnings);
  expect_valid();
  // Both readers would follow a loop until their stack ends.
  ToolRun d = run("llvm-dwarfdump --debug-info prog.elf");
  EXPECT_EQ(d.status, 0) << d.out;
  bool ok = false;
  std::vector<std::string> out = gdb({c.ptype_command, "info variables", "info functions"}, &ok);
  EXPECT_TRUE(ok) << out[0];
  EXPECT_EQ(out[0], c.ptype);
}

INSTANTIATE_TEST_SUITE_P(Types, ElfDwarfLoops, ::testing::ValuesIn(LOOPS),
                         [](const auto& info) { return std::string(info.param.name); });

// A structure that refers to itself through a pointer is no loop to break.
TEST_F(ElfDwarf, LoopsThroughStructuresStay) {
  Builder b = with_code();
  b.symbol(tektest::structure(0x11, "node", 8));
  b.aggr_begin();
  b.symbol(tektest::member_of("next", 0x11, 0));
  b.dpt(0);
  b.symbol(tektest::member("v", 1, 4));
  b.aggr_end();
  b.symbol(sym(VARIABLE, "head", type_id(0x11), in_section(2, 1, 0, 8)));
  b.end();
  EXPECT_EQ(make(b), std::vector<std::string>{});
  expect_valid();
  EXPECT_EQ(gdb({"ptype head.next->next"})[0],
            "type = struct node {\n    struct node *next;\n    int v;\n} *\n");
}

// Structures that contain themselves by value (an infinite size): readers that lay them out
// never finish (gdb-multiarch 13 dies with SIGSEGV). The member that leads back loses its type.
struct ContainsCase {
  const char* name;
  void (*records)(Builder&);
  std::vector<std::string> warnings;
  const char* ptype;  // of g
};

const ContainsCase CONTAINS[] = {
    {"Member",
     [](Builder& b) {
       b.symbol(tektest::structure(0x11, "s", 8));
       b.aggr_begin();
       b.symbol(tektest::member("v", 1, 0));
       b.symbol(tektest::member_of("self", 0x11, 4));
       b.aggr_end();
     },
     {"type 0x120 contains itself by value through its member self: the member's type is left "
      "out (void)"},
     "type = struct s {\n    int v;\n    void self;\n}\n"},
    {"ArrayMember",
     [](Builder& b) {
       b.symbol(tektest::structure(0x11, "s", 8));
       b.aggr_begin();
       b.symbol(tektest::member_of("rows", 0x11, 0));
       b.arrtype({1});
       b.symbol(tektest::member("v", 1, 4));
       b.aggr_end();
     },
     {"type 0x120 contains itself by value through its member rows: the member's type is left "
      "out (void)"},
     "type = struct s {\n    void rows;\n    int v;\n}\n"},
    // Through two array types, in a union.
    {"Rows",
     [](Builder& b) {
       b.symbol(tektest::union_tag(0x11, "u", 8));
       b.aggr_begin();
       b.symbol(tektest::member("v", 1, 0));
       b.symbol(tektest::member_of("rows", 0x11, 0));
       b.arrtype({1, 2});
       b.aggr_end();
     },
     {"type 0x120 contains itself by value through its member rows: the member's type is left "
      "out (void)"},
     "type = union u {\n    int v;\n    void rows;\n}\n"},
};

void PrintTo(const ContainsCase& c, std::ostream* os) {
  *os << c.name;
}

class ElfDwarfContains : public ElfDwarf, public ::testing::WithParamInterface<ContainsCase> {};

TEST_P(ElfDwarfContains, LosesTheMemberThatLeadsBack) {
  const ContainsCase& c = GetParam();
  Builder b = with_code();
  c.records(b);
  b.symbol(sym(VARIABLE, "g", type_id(0x11), in_section(2, 1, 0, 8)));
  b.end();
  EXPECT_EQ(make(b), c.warnings);
  expect_valid();
  bool ok = false;
  std::vector<std::string> out = gdb({"ptype g"}, &ok);
  EXPECT_TRUE(ok) << out[0];
  EXPECT_EQ(out[0], c.ptype);
}

INSTANTIATE_TEST_SUITE_P(Types, ElfDwarfContains, ::testing::ValuesIn(CONTAINS),
                         [](const auto& info) { return std::string(info.param.name); });

// The warnings name the record that wrote what they concern: the SYMBOL record of a function
// for its scope, the DPT record of a pointer.
TEST_F(ElfDwarf, WarningsNameTheirRecords) {
  Builder b = with_code();
  b.symbol(sym(VARIABLE, "p", type_id(0x8000), in_section(2, 1, 0, 4)));
  const size_t dpt = b.bytes().size();
  b.dpt(0);
  const size_t function = b.bytes().size();
  b.symbol(sym(FUNCTION, "f", basic_type(1), in_section(2, 0, 0x10, 0x20), 0x20));
  b.blkend(0x40);
  b.symbol(sym(FUNCTION, "g", basic_type(1), in_section(2, 0, 0x20, 0x10), 0x21));
  b.blkend(0x40);
  b.end();
  b.write("in.abs");
  const tektest::RunResult r = tektest::run_binary_stderr({"-v", "-O", "elf", "in.abs"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, tektest::line::fmt("tekconv: in.abs:0x%zx: warning: SYMBOL record: "
                                      "function scope 0x00001010-0x0000102F overlaps the "
                                      "function at 0x00001020: it is cut there\n",
                                      function) +
                       tektest::line::fmt("tekconv: in.abs:0x%zx: warning: DPT record: type "
                                          "0x120 closes a loop of type references: its "
                                          "reference to type 0x120 is left out (void)\n",
                                          dpt));
}

// ---------------------------------------------------------------------------------------------
// Source files.

TEST_F(ElfDwarf, UnnamedSourceFileHasAName) {
  Builder b = with_code();
  b.srcfiles({{"", ""}, {"", "util.h"}});
  b.symbol(sym(FUNCTION, "f", basic_type(1), in_section(2, 0, 0x10, 0x20), 0x20));
  b.blkend(0x40);
  b.sect(0, 0).curfile(0).lines({{10, 0x10}, {11, 0x14}});
  b.sect(0, 0).curfile(1).lines({{3, 0x18}});
  b.end();
  EXPECT_EQ(make(b), std::vector<std::string>{});
  expect_valid();
  std::vector<std::string> out = gdb({"info line *0x1014", "info line *0x1018"});
  expect_has(out[0], "Line 11 of \"unnamed\" starts at address 0x1014");
  expect_has(out[1], "Line 3 of \"util.h\" starts at address 0x1018");
  expect_has(symbolize(0x1014), "unnamed:11");
  expect_has(dwarfdump("--debug-info"), "DW_AT_name\t(\"unnamed\")");
}

// Source names with an empty part: a file without a directory next to files with one (the
// empty directory would end the directory table), a directory without a file name.
struct PartCase {
  const char* name;
  std::vector<SourceFile> files;
  std::vector<std::string> options;
  const char *first, *second;  // gdb's file names of the rows
};

const PartCase PARTS[] = {
    {"NoDirectory", {{"C:\\work\\", "main.c"}, {"", "util.h"}}, {"-fullpath"}, "main.c", "util.h"},
    {"NoFileName",
     {{"C:\\work\\", ""}, {"/src/", "util.h"}},
     {"-fullpath"},
     "unnamed",
     "/src/util.h"},
    {"NoFileNameShort", {{"C:\\work\\", ""}, {"/src/", "util.h"}}, {}, "unnamed", "util.h"},
};

void PrintTo(const PartCase& c, std::ostream* os) {
  *os << c.name;
}

class ElfDwarfParts : public ElfDwarf, public ::testing::WithParamInterface<PartCase> {};

TEST_P(ElfDwarfParts, EveryFileHasANameAndADirectory) {
  const PartCase& c = GetParam();
  Builder b = with_code();
  b.srcfiles(c.files);
  b.symbol(sym(FUNCTION, "f", basic_type(1), in_section(2, 0, 0x10, 0x20), 0x20));
  b.blkend(0x40);
  b.sect(0, 0).curfile(0).lines({{10, 0x10}, {11, 0x14}});
  b.sect(0, 0).curfile(1).lines({{3, 0x18}});
  b.end();
  EXPECT_EQ(make(b, c.options), std::vector<std::string>{});
  expect_valid();
  bool ok = false;
  std::vector<std::string> out =
      gdb({"set complaints 100", "info line *0x1014", "info line *0x1018"}, &ok);
  EXPECT_TRUE(ok);
  EXPECT_EQ(out[0], "");
  EXPECT_EQ(out[1], std::string("Line 11 of \"") + c.first +
                        "\" starts at address 0x1014 <f+4> and ends at 0x1018 <f+8>.\n");
  EXPECT_EQ(out[2], std::string("Line 3 of \"") + c.second +
                        "\" starts at address 0x1018 <f+8> and ends at 0x1030.\n");
}

INSTANTIATE_TEST_SUITE_P(Names, ElfDwarfParts, ::testing::ValuesIn(PARTS),
                         [](const auto& info) { return std::string(info.param.name); });

// A unit without a name and without source files is called unnamed (gdb wants a string).
TEST_F(ElfDwarf, UnitWithoutAnyNameIsUnnamed) {
  Builder b;
  b.hdr().unit("", "SH7032", 1, 0x04).cl(0x1000, "P");
  b.dbgunit(0x01, 0).basetype(1, 3, 4, 0);
  b.symbol(sym(FUNCTION, "f", basic_type(1), in_section(2, 0, 0x10, 0x20), 0x20));
  b.blkend(0x40);
  b.sect(0, 0).data(std::vector<uint8_t>(0x40, 0x09));
  b.end();
  EXPECT_EQ(make(b), std::vector<std::string>{});
  expect_valid();
  expect_has(dwarfdump("--debug-info"), "DW_AT_name\t(\"unnamed\")");
  bool ok = false;
  std::vector<std::string> out = gdb({"set complaints 100", "ptype f"}, &ok);
  EXPECT_TRUE(ok);
  EXPECT_EQ(out[1], "type = int (void)\n");
}

struct PathCase {
  const char* name;
  std::vector<SourceFile> files;
  std::string comp_dir, include_dir, second;  // second: how gdb names the second file
};

const PathCase PATHS[] = {
    {"Dos",
     {{"C:\\work\\src\\", "main.c"}, {"C:\\work\\inc\\", "util.h"}},
     "C:\\\\work\\\\src",
     "C:\\\\work\\\\inc",
     "C:\\work\\inc/util.h"},
    {"Unix",
     {{"/home/u/src/", "main.c"}, {"/home/u/inc/", "util.h"}},
     "/home/u/src",
     "/home/u/inc",
     "/home/u/inc/util.h"},
    {"DosRoot",
     {{"C:\\", "main.c"}, {"C:\\inc\\", "util.h"}},
     "C:\\\\",
     "C:\\\\inc",
     "C:\\inc/util.h"},
};

void PrintTo(const PathCase& c, std::ostream* os) {
  *os << c.name;
}

class ElfDwarfPaths : public ElfDwarf, public ::testing::WithParamInterface<PathCase> {};

TEST_P(ElfDwarfPaths, FullPathsGiveDirectories) {
  const PathCase& c = GetParam();
  Builder b = with_code();
  b.srcfiles(c.files);
  b.symbol(sym(FUNCTION, "f", basic_type(1), in_section(2, 0, 0x10, 0x20), 0x20));
  b.blkend(0x40);
  b.sect(0, 0).curfile(0).lines({{10, 0x10}, {11, 0x14}});
  b.sect(0, 0).curfile(1).lines({{3, 0x18}});
  b.end();
  EXPECT_EQ(make(b, {"-fullpath"}), std::vector<std::string>{});
  expect_valid();
  std::string info = dwarfdump("--debug-info --debug-line");
  expect_has(info, "DW_AT_name\t(\"main.c\")");
  expect_has(info, "DW_AT_comp_dir\t(\"" + c.comp_dir + "\")");
  expect_has(info, "include_directories[  1] = \"" + c.include_dir + "\"");
  std::vector<std::string> out = gdb({"break main.c:11", "break util.h:3"});
  EXPECT_EQ(out[0], "Breakpoint 1 at 0x1014: file main.c, line 11.\n");
  EXPECT_EQ(out[1], "Breakpoint 2 at 0x1018: file " + c.second + ", line 3.\n");
}

INSTANTIATE_TEST_SUITE_P(Separators, ElfDwarfPaths, ::testing::ValuesIn(PATHS),
                         [](const auto& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------------------------------------
// Addresses.

// A function that ends at 2^32, in a unit of two ranges (so DW_AT_ranges).
TEST_F(ElfDwarf, RangeEndingAtTheTopOfTheAddressSpace) {
  Builder b;
  b.hdr().unit("m", "SH7032", 2, 0x04).cl(0x1000, "P").cl(0xFFFFFF00, "Q");
  b.dbgunit(0x01, 0).basetype(1, 3, 4, 0);
  b.srcfiles({{"", "main.c"}});
  b.symbol(sym(FUNCTION, "low", basic_type(1), in_section(2, 0, 0, 0x10), 0x20));
  b.blkend(0x40);
  b.symbol(sym(FUNCTION, "top", basic_type(1), in_section(2, 1, 0, 0x100), 0x21));
  b.blkend(0x40);
  b.sect(0, 0).data(std::vector<uint8_t>(0x10, 0x09));
  b.sect(0, 1).data(std::vector<uint8_t>(0x100, 0x09));
  b.sect(0, 0).curfile(0).lines({{5, 0}});
  b.sect(0, 1).lines({{20, 0}, {21, 0x80}, {22, 0xF0}});
  b.end();
  EXPECT_EQ(make(b), std::vector<std::string>{});
  expect_valid();
  std::string info = dwarfdump("--debug-info");
  expect_has(info, "[0xffffff00, 0xffffffff))");
  std::vector<std::string> out = gdb({"info line *0xfffffff0", "info line *0xffffff80"});
  expect_has(out[0], "Line 22 of \"main.c\" starts at address 0xfffffff0");
  expect_has(out[1], "Line 21 of \"main.c\" starts at address 0xffffff80");
  expect_has(symbolize(0xfffffff4), "main.c:22");
}

// A pointer of 2 bytes reads as its 2 bytes in gdb, on a big-endian machine.
struct NearCase {
  const char* name;
  const char* processor;
  std::vector<std::string> options;
  uint8_t dpt;
};

const NearCase NEARS[] = {
    {"ShDefaultSize", "SH7032", {"-ps"}, 0},
    {"Sh16Pointer", "SH7032", {}, 2},
    {"Mc68000", "MC68000", {"-ps"}, 0},
};

void PrintTo(const NearCase& c, std::ostream* os) {
  *os << c.name;
}

class ElfDwarfNear : public ElfDwarf, public ::testing::WithParamInterface<NearCase> {};

TEST_P(ElfDwarfNear, PointerPrintsItsValue) {
  const NearCase& c = GetParam();
  Builder b = tektest::program(c.processor);
  b.symbol(sym(VARIABLE, "np", basic_type(1), in_section(2, 1, 0, 2)));
  b.dpt(c.dpt);
  b.symbol(sym(VARIABLE, "fp", basic_type(1), in_section(2, 1, 4, 4)));
  b.dpt(4);
  b.sect(0, 1).data({0x12, 0x34, 0, 0, 0x00, 0x00, 0x20, 0x00});
  b.end();
  EXPECT_EQ(make(b, c.options, {c.processor}), std::vector<std::string>{});
  expect_valid();
  std::vector<std::string> out = gdb({"print np", "print sizeof(np)", "print fp"});
  EXPECT_EQ(out[0], "$1 = (near pointer) 0x1234\n");
  EXPECT_EQ(out[1], "$2 = 2\n");
  EXPECT_EQ(out[2], "$3 = (int *) 0x2000 <np>\n");
}

INSTANTIATE_TEST_SUITE_P(Machines, ElfDwarfNear, ::testing::ValuesIn(NEARS),
                         [](const auto& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------------------------------------
// Registers, units, scopes.

// A register list of an RI unit in a file whose machine the first unit, an SH, decides.
TEST_F(ElfDwarf, RegisterOutsideTheTableHasNoLocation) {
  Builder b = with_code();
  b.symbol(sym(FUNCTION, "f", basic_type(1), in_section(2, 0, 0x10, 0x20), 0x20));
  b.symbol(sym(VARIABLE, "inreg", basic_type(1), in_register("R5")));
  b.blkend(0x40);
  b.unit("r", "RI20", 1, 0x04).cl(0x8000, "P");
  b.dbgunit(0x01, 1);
  b.symbol(sym(FUNCTION, "g", basic_type(1), in_section(2, 0, 0, 0x10), 0x21));
  b.symbol(sym(VARIABLE, "pair", basic_type(1), in_registers({"G2", "G3"})));
  b.blkend(0x40);
  b.sect(1, 0).data(std::vector<uint8_t>(0x10, 0x09));
  b.end();
  EXPECT_EQ(make(b, {}, {"SH7032", "RI20"}),
            (std::vector<std::string>{
                "unit r is for the RI20, unlike the first unit (SH7032): the ELF file is written "
                "for the SH7032",
                "variable pair is in register 0xFFFF0203, which the SH7032 does not have: its "
                "location is left out"}));
  expect_valid();
  bool ok = false;
  std::vector<std::string> out = gdb({"info scope g", "info scope f"}, &ok);
  EXPECT_TRUE(ok);
  expect_has(out[0], "Symbol pair is optimized out.");
  expect_has(out[1], "Symbol inreg is a variable in $r5");
}

// A header's rows after the function that includes them: the line table holds every row in
// address order, and rows of one address in the order they came (the function's row first).
// One row lies below every row before it, outside the function: a sequence of its own first.
TEST_F(ElfDwarf, RowsOutOfOrderAreSortedStably) {
  Builder b = with_code();
  b.srcfiles({{"", "main.c"}, {"", "util.h"}});
  b.symbol(sym(FUNCTION, "f", basic_type(1), in_section(2, 0, 0x10, 0x20), 0x20));
  b.blkend(0x40);
  b.sect(0, 0).curfile(0).lines({{10, 0x10}, {11, 0x14}, {12, 0x20}});
  b.sect(0, 0).curfile(1).lines({{3, 0x14}, {4, 0x18}, {2, 0x10}, {1, 0x0C}});
  b.end();
  EXPECT_EQ(make(b), std::vector<std::string>{});
  expect_valid();
  std::vector<std::string> rows;  // address, line and file of each row
  std::istringstream dump(dwarfdump("--debug-line"));
  for (std::string l; std::getline(dump, l);) {
    if (l.rfind("0x", 0) != 0) continue;
    std::istringstream fields(l);
    std::string addr, line, column, file;
    fields >> addr >> line >> column >> file;
    rows.push_back(addr.substr(addr.size() - 4) + " " + line + " " + file);
  }
  EXPECT_EQ(rows,
            (std::vector<std::string>{"100c 1 2", "100d 1 2", "1010 10 1", "1010 2 2", "1014 11 1",
                                      "1014 3 2", "1018 4 2", "1020 12 1", "1030 12 1"}));
}

// A unit whose lines begin before its first function, here one without a module name: its
// lines and its functions are one unit's.
TEST_F(ElfDwarf, LinesGoWithTheirUnit) {
  Builder b;
  b.hdr().unit("first", "SH7032", 1, 0x04).cl(0x1000, "P");
  b.dbgunit(0x01, 0).basetype(1, 3, 4, 0);
  b.srcfiles({{"", "a.c"}});
  b.symbol(sym(FUNCTION, "f", basic_type(1), in_section(2, 0, 0x10, 0x20), 0x20));
  b.symbol(sym(VARIABLE, "x", basic_type(1), in_frame(8)));
  b.blkend(0x40);
  b.sect(0, 0).data(std::vector<uint8_t>(0x40, 0x09));
  b.sect(0, 0).curfile(0).lines({{10, 0x10}, {11, 0x14}});
  b.unit("", "SH7032", 1, 0x04).cl(0x5000, "P");
  b.dbgunit(0x01, 1);
  b.srcfiles({{"", "b.c"}, {"", "c.c"}});
  b.symbol(sym(FUNCTION, "g", basic_type(1), in_section(2, 0, 0x10, 0x20), 0x20));
  b.symbol(sym(VARIABLE, "y", basic_type(1), in_frame(8)));
  b.blkend(0x40);
  b.sect(1, 0).data(std::vector<uint8_t>(0x40, 0x09));
  b.sect(1, 0).curfile(0).lines({{19, 0}, {20, 0x10}, {21, 0x14}});
  b.sect(1, 0).curfile(1).lines({{7, 0x38}});  // in no function
  b.end();
  EXPECT_EQ(make(b, {}, {"SH7032", "SH7032"}), std::vector<std::string>{});
  expect_valid();
  std::string info = dwarfdump("--debug-info");
  const size_t second = info.find("DW_AT_name\t(\"b.c\")");
  ASSERT_NE(second, std::string::npos) << info;
  EXPECT_GT(info.find("DW_AT_name\t(\"g\")"), second);
  EXPECT_LT(info.find("DW_AT_name\t(\"f\")"), second);
  expect_has(info, "[0x00005000, 0x00005001)");
  expect_has(info, "[0x00005038, 0x00005039)");
  std::vector<std::string> out = gdb({"info scope g", "info line *0x5038"});
  EXPECT_EQ(out[0],
            "Scope for g:\nSymbol y is a variable at frame base reg $r14 offset 0+8, length 4.\n");
  expect_has(out[1], "Line 7 of \"c.c\" starts at address 0x5038");
}

// A unit with nothing but lines has a DIE without children, and an abbreviation that says so.
TEST_F(ElfDwarf, UnitWithoutChildren) {
  Builder b;
  b.hdr().unit("first", "SH7032", 1, 0x04).cl(0x1000, "P");
  b.dbgunit(0x01, 0).basetype(1, 3, 4, 0);
  b.symbol(sym(FUNCTION, "f", basic_type(1), in_section(2, 0, 0x10, 0x20), 0x20));
  b.blkend(0x40);
  b.sect(0, 0).data(std::vector<uint8_t>(0x40, 0x09));
  b.unit("second", "SH7032", 1, 0x04).cl(0x5000, "P");
  b.dbgunit(0x01, 1);
  b.srcfiles({{"", "b.c"}});
  b.sect(1, 0).data(std::vector<uint8_t>(0x10, 0x09));
  b.sect(1, 0).curfile(0).lines({{7, 0x8}});
  b.end();
  EXPECT_EQ(make(b, {}, {"SH7032", "SH7032"}), std::vector<std::string>{});
  expect_valid();
  const ToolRun v = run("llvm-dwarfdump --verify prog.elf");
  expect_lacks(v.out, "DW_CHILDREN_yes");
  expect_has(dwarfdump("--debug-abbrev"), "DW_TAG_compile_unit\tDW_CHILDREN_no");
  expect_has(gdb({"info line *0x5008"})[0], "Line 7 of \"b.c\" starts at address 0x5008");
}

struct OverlapCase {
  const char* name;
  uint32_t second_at, second_size;
  std::vector<std::string> warnings;
  const char* f_range;  // f's range as llvm-dwarfdump shows it
};

const OverlapCase OVERLAPS[] = {
    {"Partly",
     0x20,
     0x20,
     {"function scope 0x00001010-0x0000102F overlaps the function at 0x00001020: it is cut "
      "there"},
     "DW_AT_high_pc\t(0x00001020)"},
    {"Inside",
     0x18,
     0x8,
     {"function scope 0x00001010-0x0000102F overlaps the function at 0x00001018: it is cut "
      "there"},
     "DW_AT_high_pc\t(0x00001018)"},
    {"SameStart",
     0x10,
     0x10,
     {"function scope at 0x00001010 begins where another one does: it is written without an "
      "address range"},
     "DW_AT_high_pc\t(0x00001030)"},
};

void PrintTo(const OverlapCase& c, std::ostream* os) {
  *os << c.name;
}

class ElfDwarfOverlaps : public ElfDwarf, public ::testing::WithParamInterface<OverlapCase> {};

TEST_P(ElfDwarfOverlaps, ScopesAreClipped) {
  const OverlapCase& c = GetParam();
  Builder b = with_code();
  b.symbol(sym(FUNCTION, "f", basic_type(1), in_section(2, 0, 0x10, 0x20), 0x20));
  b.blkend(0x40);
  b.symbol(sym(FUNCTION, "g", basic_type(1), in_section(2, 0, c.second_at, c.second_size), 0x21));
  b.blkend(0x40);
  b.end();
  EXPECT_EQ(make(b), c.warnings);
  expect_valid();
  expect_has(dwarfdump("--debug-info --name=f"), c.f_range);
}

INSTANTIATE_TEST_SUITE_P(Scopes, ElfDwarfOverlaps, ::testing::ValuesIn(OVERLAPS),
                         [](const auto& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------------------------------------
// Smaller things: array bounds, functions without a scope, labels, types defined twice.

// Functions that readers cannot place get no range and are declarations; gdb drops a
// definition without a range, one at address 0 outside every section, or one without a name,
// each with a complaint.
struct UnplacedCase {
  const char* name;
  void (*records)(Builder&);
  std::vector<std::string> warnings;
  const char* declared;  // the function written as a declaration
};

const UnplacedCase UNPLACED[] = {
    {"SameStart",
     [](Builder& b) {
       b.sect(0, 0).data(std::vector<uint8_t>(0x40, 0x09));
       b.symbol(sym(FUNCTION, "f", basic_type(1), in_section(2, 0, 0x10, 0x20), 0x20));
       b.blkend(0x40);
       b.symbol(sym(FUNCTION, "g", basic_type(1), in_section(5, 0, 0x10, 0x10), 0x21));
       b.blkend(0x40);
     },
     {"function scope at 0x00001010 begins where another one does: it is written without an "
      "address range"},
     "g"},
    {"AtZero",
     [](Builder& b) {
       b.sect(0, 0).data(std::vector<uint8_t>(0x40, 0x09));
       b.symbol(sym(FUNCTION, "z", basic_type(1), in_section(5, 1, 0, 0x10), 0x20));
       b.blkend(0x40);
       b.symbol(sym(FUNCTION, "f", basic_type(1), in_section(2, 0, 0x10, 0x20), 0x21));
       b.blkend(0x40);
     },
     {"function scope at address 0 lies outside the image: it is written without an address "
      "range"},
     "z"},
    {"LastByte",
     [](Builder& b) {
       b.sect(0, 0).data(std::vector<uint8_t>(0x40, 0x09));
       b.symbol(sym(FUNCTION, "f", basic_type(1), in_section(2, 0, 0x10, 0x20), 0x20));
       b.blkend(0x40);
       b.symbol(sym(FUNCTION, "top", basic_type(1), in_section(5, 2, 0, 1), 0x21));
       b.blkend(0x40);
     },
     {},
     "top"},
    {"NoName",
     [](Builder& b) {
       b.sect(0, 0).data(std::vector<uint8_t>(0x40, 0x09));
       b.symbol(sym(FUNCTION, "f", basic_type(1), in_section(2, 0, 0x10, 0x20), 0x20));
       b.blkend(0x40);
       b.symbol(sym(FUNCTION, "", basic_type(1), in_section(5, 0, 0x10, 0x10), 0x21));
       b.blkend(0x40);
     },
     {"function scope at 0x00001010 begins where another one does: it is written without an "
      "address range"},
     "unnamed"},
};

void PrintTo(const UnplacedCase& c, std::ostream* os) {
  *os << c.name;
}

class ElfDwarfUnplaced : public ElfDwarf, public ::testing::WithParamInterface<UnplacedCase> {};

TEST_P(ElfDwarfUnplaced, AreDeclarations) {
  const UnplacedCase& c = GetParam();
  Builder b;
  b.hdr().unit("m", "SH7032", 3, 0x04).cl(0x1000, "P").cl(0, "Z").cl(0xFFFFFFFF, "T");
  b.dbgunit(0x01, 0).basetype(1, 3, 4, 0);
  c.records(b);
  b.end();
  EXPECT_EQ(make(b), c.warnings);
  expect_valid();
  const std::string decl = dwarfdump(std::string("--debug-info --name=") + c.declared);
  expect_has(decl, "DW_AT_declaration\t(true)");
  expect_lacks(decl, "DW_AT_low_pc");
  bool ok = false;
  std::vector<std::string> out = gdb({"set complaints 100", "info functions f"}, &ok);
  EXPECT_TRUE(ok);
  EXPECT_EQ(out[0], "");
  EXPECT_EQ(out[1],
            "All functions matching regular expression \"f\":\n\nFile m:\n\tint f(void);\n");
}

INSTANTIATE_TEST_SUITE_P(Functions, ElfDwarfUnplaced, ::testing::ValuesIn(UNPLACED),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(ElfDwarf, ArrayBounds) {
  Builder b = with_code();
  b.symbol(sym(VARIABLE, "unknown", basic_type(1), in_section(2, 1, 0, 4)));
  b.arrtype({0xFFFFFFFF});
  b.symbol(sym(VARIABLE, "huge", basic_type(2), in_section(2, 1, 4, 4)));
  b.arrtype({0xFFFFFFFE});
  b.symbol(sym(VARIABLE, "ten", basic_type(1), in_section(2, 1, 8, 40)));
  b.arrtype({9});
  b.end();
  EXPECT_EQ(make(b), std::vector<std::string>{});
  expect_valid();
  std::vector<std::string> out = gdb({"ptype unknown", "ptype huge", "ptype ten"});
  EXPECT_EQ(out, (std::vector<std::string>{"type = int []\n", "type = char [4294967295]\n",
                                           "type = int [10]\n"}));
}

// A function type's PUBLIC record without a scope: it reaches to the next function, or to the
// end of the image; inside another function (a second entry point) it has no range.
TEST_F(ElfDwarf, FunctionWithoutScopeHasAnExtent) {
  Builder b = tektest::program("ARM");  // a machine that llvm-dwarfdump --lookup knows
  b.sect(0, 0).data(std::vector<uint8_t>(0x40, 0x09));
  b.symbol(sym(VARIABLE, "h", basic_type(1), in_section(2, 0, 0x4, 0)));
  b.functype();
  b.symbol(sym(FUNCTION, "f", basic_type(1), in_section(2, 0, 0x10, 0x10), 0x20));
  b.blkend(0x40);
  b.symbol(sym(VARIABLE, "entry", basic_type(1), in_section(2, 0, 0x18, 0)));
  b.functype();
  b.symbol(sym(VARIABLE, "tail", basic_type(1), in_section(2, 0, 0x30, 0)));
  b.functype();
  b.end();
  EXPECT_EQ(make(b, {}, {"ARM"}), std::vector<std::string>{});
  expect_valid();
  // The subprogram that holds an address, by the debug information alone.
  auto holder = [&](const char* addr) {
    std::string out = run(std::string("llvm-dwarfdump --lookup=") + addr + " prog.elf").out;
    size_t at = out.find("DW_TAG_subprogram");
    if (at == std::string::npos) return std::string();
    size_t name = out.find("DW_AT_name", at);
    return out.substr(name, out.find('\n', name) - name);
  };
  EXPECT_EQ(holder("0x1004"), "DW_AT_name\t(\"h\")");
  EXPECT_EQ(holder("0x100f"), "DW_AT_name\t(\"h\")");
  EXPECT_EQ(holder("0x1010"), "DW_AT_name\t(\"f\")");
  EXPECT_EQ(holder("0x1018"), "DW_AT_name\t(\"f\")");
  EXPECT_EQ(holder("0x101f"), "DW_AT_name\t(\"f\")");
  EXPECT_EQ(holder("0x103f"), "DW_AT_name\t(\"tail\")");
  EXPECT_EQ(holder("0x1040"), "");
}

// Untyped symbols are labels: in the function whose code holds them, and nowhere outside.
TEST_F(ElfDwarf, LabelsAreNoVariables) {
  Builder b = with_code();
  b.symbol(sym(FUNCTION, "f", basic_type(1), in_section(2, 0, 0x10, 0x20), 0x20));
  b.symbol(sym(VARIABLE, "x", basic_type(1), in_frame(8)));
  b.symbol(sym(UNTYPED, "loop_top", std::nullopt, at_section(0, 0x18)));
  b.symbol(sym(15, "retry", std::nullopt, classed(5, 4, 0x101C)));  // a static label
  b.blkend(0x40);
  b.symbol(sym(UNTYPED, "data_mark", std::nullopt, at_section(1, 0)));
  b.end();
  EXPECT_EQ(make(b), std::vector<std::string>{});
  expect_valid();
  std::vector<std::string> out =
      gdb({"info scope f", "break f:loop_top", "info variables", "whatis data_mark"});
  expect_has(out[0], "Symbol loop_top is a label at address 0x1018");
  expect_has(out[0], "Symbol retry is a label at address 0x101c");
  EXPECT_EQ(out[1].rfind("Breakpoint 1 at 0x1018:", 0), 0u) << out[1];
  expect_lacks(out[2], "loop_top");
  expect_lacks(out[2], "data_mark");
  expect_lacks(out[3], "int");
}

// A struct tag and a DPT record that both take id 0x8000: the pointer's TYPE record repeats
// the structure's selfix.
TEST_F(ElfDwarf, TypeDefinedTwiceIsReported) {
  Builder b = with_code();
  b.symbol(tektest::structure(0x8000, "s", 4));
  b.aggr_begin();
  b.symbol(tektest::member("v", 1, 0));
  b.aggr_end();
  b.symbol(sym(VARIABLE, "sv", type_id(0x8000), in_section(2, 1, 0, 4)));
  b.symbol(sym(VARIABLE, "p", basic_type(1), in_section(2, 1, 4, 4)));
  b.dpt(0);
  b.end();
  EXPECT_EQ(make(b),
            std::vector<std::string>{"type 0x120 is defined again: the first definition is kept"});
  expect_valid();
  EXPECT_EQ(gdb({"ptype sv"})[0], "type = struct s {\n    int v;\n}\n");
}

}  // namespace
