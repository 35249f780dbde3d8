// Types that several units define alike are written once, and every unit refers to that DIE;
// a type that differs from its namesake anywhere in what it leads to keeps a DIE of its own.
// The records are fed to the ELF writer as a conversion emits them; llvm-dwarfdump and gdb
// read the result.
#include <chrono>
#include <functional>

#include "elf_support.hpp"
#include "optional_tools.hpp"
#include "type_records.hpp"

using namespace elftest;
using namespace typerecords;

namespace {

// One unit's types, from selfix base on: two structures that point to each other (a loop
// through both), an array and a typedef of the first, an enumeration, and a function type with
// a pointer to it.
enum Slot { NODE, LEAF, TO_NODE, TO_LEAF, ARRAY, TYPEDEF, COLOR, FUNCTION, TO_FUNCTION };

std::vector<TypeRecords> unit_types(uint32_t base) {
  std::vector<TypeRecords> t;
  t.push_back(
      structure(base + NODE, "node", 12,
                {{"next", {base + TO_NODE, 0}}, {"peer", {base + TO_LEAF, 4}}, {"v", {INT, 8}}}));
  t.push_back(structure(base + LEAF, "leaf", 8, {{"back", {base + TO_NODE, 0}}, {"w", {INT, 4}}}));
  t.push_back(refers(tek::K_32POINTER, base + TO_NODE, base + NODE));
  t.push_back(refers(tek::K_32POINTER, base + TO_LEAF, base + LEAF));
  t.push_back(refers(tek::K_ARRAY, base + ARRAY, base + NODE));
  t.back().type.limit = 4;
  t.push_back(refers(tek::K_TYPEDEF, base + TYPEDEF, base + NODE, "node_t"));
  t.push_back(type(tek::K_ENUM, base + COLOR, "color"));
  for (const char* name : {"red", "green"}) {
    MemberValue m;
    m.kind = tek::K_ENUM;
    m.name = name;
    m.value = static_cast<uint32_t>(t.back().members.size());
    t.back().members.push_back(m);
  }
  t.back().type.count = 2;
  t.push_back(type(tek::K_FUNCTION, base + FUNCTION));
  t.back().type.retix = INT;
  t.push_back(refers(tek::K_32POINTER, base + TO_FUNCTION, base + FUNCTION));
  return t;
}

// Two SH units with the same types (from 300 and from 400), and variables of them in each
// unit; change alters the second unit's types. Returns the ELF file.
Bytes two_units(const std::function<void(std::vector<TypeRecords>&)>& change) {
  tek::ElfSink sink;
  put_predefined_types(sink);
  for (uint32_t unit = 1; unit <= 2; ++unit) {
    const uint32_t base = 200 + 100 * unit;
    std::vector<TypeRecords> types = unit_types(base);
    if (unit == 2) change(types);
    for (const TypeRecords& t : types) {
      sink.put(t.type);
      for (const MemberValue& m : t.members) sink.put(m);
    }
    sink.put(tek::ModuleValue{unit, unit == 1 ? "one" : "two"});
    const std::string n = std::to_string(unit);
    uint32_t addr = 0x1000 * unit;
    for (auto [name, slot] :
         {std::pair{"x", TYPEDEF}, {"a", ARRAY}, {"c", COLOR}, {"f", TO_FUNCTION}, {"l", TO_LEAF}})
      sink.put(tek::PublicValue{0, addr += 0x40, 1, base + slot, unit, name + n});
    sink.unit_processor(unit, tek::PROC_SH7032);
  }
  Bytes elf;
  sink.finish([&](const uint8_t* p, size_t n) { elf.insert(elf.end(), p, p + n); });
  return elf;
}

void expect_in(const std::string& text, const std::string& want) {
  EXPECT_NE(text.find(want), std::string::npos) << "want: " << want << "\nin:\n" << text;
}

size_t count(const std::string& text, const std::string& what) {
  size_t n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

// DIEs of the types in the whole file.
struct Dies {
  size_t node, leaf, pointers, arrays, typedefs, enums, functions;
};

struct MergeCase {
  const char* name;
  std::function<void(std::vector<TypeRecords>&)> change;
  Dies dies;
};

const MergeCase CASES[] = {
    {"Alike", [](auto&) {}, {1, 1, 3, 1, 1, 1, 1}},
    // A difference in the leaf reaches the node through the loop of pointers, and everything
    // that leads to either.
    {"MemberName", [](auto& t) { t[LEAF].members[1].name = "z"; }, {2, 2, 5, 2, 2, 1, 1}},
    {"MemberOffset", [](auto& t) { t[LEAF].members[1].offset = 6; }, {2, 2, 5, 2, 2, 1, 1}},
    {"MemberType", [](auto& t) { t[LEAF].members[1].typeix = CHAR; }, {2, 2, 5, 2, 2, 1, 1}},
    {"Size", [](auto& t) { t[NODE].type.size = 16; }, {2, 2, 5, 2, 2, 1, 1}},
    {"MemberCount",
     [](auto& t) {
       t[LEAF].members.pop_back();
       t[LEAF].type.count = 1;
     },
     {2, 2, 5, 2, 2, 1, 1}},
    {"StructureName", [](auto& t) { t[LEAF].type.name = "twig"; }, {2, 1, 5, 2, 2, 1, 1}},
    // What refers to nothing that differs is still merged.
    {"ArrayBound", [](auto& t) { t[ARRAY].type.limit = 5; }, {1, 1, 3, 2, 1, 1, 1}},
    {"TypedefName", [](auto& t) { t[TYPEDEF].type.name = "node_u"; }, {1, 1, 3, 1, 2, 1, 1}},
    {"EnumValue", [](auto& t) { t[COLOR].members[1].value = 7; }, {1, 1, 3, 1, 1, 2, 1}},
    {"ReturnType", [](auto& t) { t[FUNCTION].type.retix = CHAR; }, {1, 1, 4, 1, 1, 1, 2}},
    // Types alike within one unit are merged too: the second pointer to the leaf, and the
    // function type that nothing uses any more.
    {"PointerTarget",
     [](auto& t) { t[TO_FUNCTION].type.typeix = t[LEAF].type.selfix; },
     {1, 1, 3, 1, 1, 1, 1}},
};

void PrintTo(const MergeCase& c, std::ostream* os) {
  *os << c.name;
}

class ElfTypeMerge : public tektest::TempDirTest, public ::testing::WithParamInterface<MergeCase> {
 protected:
  void SetUp() override {
    tektest::TempDirTest::SetUp();
    TEKTEST_REQUIRE_TOOL("llvm-dwarfdump", "gdb-multiarch");
  }
};

TEST_P(ElfTypeMerge, OneDiePerTypeWrittenAlike) {
  const MergeCase& c = GetParam();
  write_bytes("prog.elf", two_units(c.change));
  const ToolRun verify = run("llvm-dwarfdump --verify prog.elf");
  EXPECT_NE(verify.out.find("No errors."), std::string::npos) << verify.out;
  const std::string info = run("llvm-dwarfdump --debug-info prog.elf").out;
  const Dies got{count(info, "DW_AT_name\t(\"node\")"), count(info, "DW_AT_name\t(\"leaf\")"),
                 count(info, "DW_TAG_pointer_type"),    count(info, "DW_TAG_array_type"),
                 count(info, "DW_TAG_typedef"),         count(info, "DW_TAG_enumeration_type"),
                 count(info, "DW_TAG_subroutine_type")};
  EXPECT_EQ(got.node, c.dies.node) << info;
  EXPECT_EQ(got.leaf, c.dies.leaf);
  EXPECT_EQ(got.pointers, c.dies.pointers) << info;
  EXPECT_EQ(got.arrays, c.dies.arrays);
  EXPECT_EQ(got.typedefs, c.dies.typedefs);
  EXPECT_EQ(got.enums, c.dies.enums);
  EXPECT_EQ(got.functions, c.dies.functions);
  // The second unit's variables read their types wherever the DIEs lie.
  const ToolRun gdb =
      run("gdb-multiarch -batch -nx -ex 'ptype x2' -ex 'ptype l2' "
          "-ex 'ptype c2' prog.elf");
  EXPECT_EQ(gdb.status, 0) << gdb.out;
  std::vector<TypeRecords> second = unit_types(400);
  c.change(second);
  const std::string leaf = second[LEAF].type.name;
  expect_in(gdb.out, "struct " + leaf + " *peer;");
  expect_in(gdb.out, "type = struct " + leaf + " {\n    struct node *back;\n");
  expect_in(gdb.out, "type = enum color {red, green");
}

INSTANTIATE_TEST_SUITE_P(Changes, ElfTypeMerge, ::testing::ValuesIn(CASES),
                         [](const auto& info) { return std::string(info.param.name); });

// Loops of references among types written alike: each unit's TYPE record that closes a loop
// is named by a warning of its own, though one DIE stands for both.
TEST(ElfTypeMergeLoops, EachCopyIsWarned) {
  tek::ElfSink sink;
  put_predefined_types(sink);
  for (uint32_t unit = 1; unit <= 2; ++unit) {
    const uint32_t base = 200 + 100 * unit;
    sink.put(refers(tek::K_32POINTER, base, base).type);  // a pointer to itself
    TypeRecords holder = structure(base + 1, "holder", 8, {{"self", {base + 1, 0}}});
    sink.put(holder.type);
    for (const MemberValue& m : holder.members) sink.put(m);
    sink.put(tek::ModuleValue{unit, "u" + std::to_string(unit)});
    sink.put(tek::PublicValue{0, 0x1000 * unit, 1, base, unit, "p" + std::to_string(unit)});
    sink.put(tek::PublicValue{0, 0x1000 * unit + 8, 1, base + 1, unit, "h" + std::to_string(unit)});
    sink.unit_processor(unit, tek::PROC_SH7032);
  }
  sink.finish([](const uint8_t*, size_t) {});
  std::vector<std::string> warnings;
  for (const tek::ElfWarning& w : sink.warnings()) warnings.push_back(w.text);
  const std::vector<std::string> want = {
      "type 0x12C closes a loop of type references: its reference to type 0x12C is left out (void)",
      "type 0x190 closes a loop of type references: its reference to type 0x190 is left out (void)",
      "type 0x12D contains itself by value through its member self: the member's type is left out "
      "(void)",
      "type 0x191 contains itself by value through its member self: the member's type is left out "
      "(void)"};
  EXPECT_EQ(warnings, want);
}

// Two units with a chain of 60,000 typedefs each, alike but for the type at the chain's end:
// every typedef of the second unit looks like its namesake until the end of its chain, so
// comparing each one to the end would take some 1.8 billion steps. The comparisons that fail
// are bounded, and the file is written in a moment.
TEST(ElfTypeMergeBound, LongChainsThatDifferAtTheirEnd) {
  constexpr uint32_t LENGTH = 60000;
  tek::ElfSink sink;
  put_predefined_types(sink);
  for (uint32_t unit = 1; unit <= 2; ++unit) {
    const uint32_t base = 1000 + unit * LENGTH;
    for (uint32_t k = 0; k < LENGTH; ++k) {
      std::string name = "t";
      name += std::to_string(k);
      sink.put(refers(tek::K_TYPEDEF, base + k, k == 0 ? (unit == 1 ? INT : CHAR) : base + k - 1,
                      name.c_str())
                   .type);
    }
    sink.put(tek::ModuleValue{unit, "u" + std::to_string(unit)});
    sink.put(tek::PublicValue{0, 0x1000 * unit, 1, base + LENGTH - 1, unit, "v"});
    sink.unit_processor(unit, tek::PROC_SH7032);
  }
  const auto start = std::chrono::steady_clock::now();
  size_t bytes = 0;
  sink.finish([&](const uint8_t*, size_t n) { bytes += n; });
  const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
  EXPECT_GT(bytes, 0u);
  EXPECT_LT(took.count(), 10.0);
}

}  // namespace
