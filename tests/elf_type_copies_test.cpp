// The ELF writer drops each TYPE record that copies an earlier type as the records come: what
// it keeps, and the type each copy's selfix then stands for.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "elf/model.hpp"
#include "type_records.hpp"

using namespace typerecords;

namespace {

constexpr uint32_t LONG = 264;  // the 32-bit long of targets whose int has 32 bits

struct Settled {
  std::vector<uint32_t> kept;           // the selfixes of the TYPE records kept, from 300 on
  std::map<uint32_t, uint32_t> copies;  // selfix of a copy: selfix of the type it stands for
};

// Feeds the predefined types and then types to the ELF writer, and ends the type records.
Settled settle(const std::vector<TypeRecords>& types) {
  tek::ElfSink sink;
  put_predefined_types(sink);
  put_types(sink, types);
  sink.end_types();
  const tek::ElfModel& m = sink.model();
  Settled s;
  for (const tek::TypeRec& t : m.types)
    if (t.t.selfix >= 300) s.kept.push_back(t.t.selfix);
  for (const TypeRecords& t : types) {
    const uint32_t i = m.type_at.get(t.type.selfix);
    if (m.types[i].t.selfix != t.type.selfix) s.copies[t.type.selfix] = m.types[i].t.selfix;
  }
  EXPECT_EQ(m.copied_types, s.copies.size());
  return s;
}

TypeRecords with_limit(TypeRecords t, uint32_t limit) {
  t.type.limit = limit;
  return t;
}

// A structure whose members' types come after it, as a conversion emits them.
std::vector<TypeRecords> record_group(uint32_t base, uint32_t second_offset = 4) {
  return {structure(base, "rec", 8, {{"tag", {base + 1, 0}}, {"ref", {base + 2, second_offset}}}),
          with_limit(refers(tek::K_ARRAY, base + 1, CHAR), 3),
          refers(tek::K_32POINTER, base + 2, INT)};
}

TypeRecords enumeration(uint32_t selfix, std::vector<uint32_t> values) {
  TypeRecords t = type(tek::K_ENUM, selfix, "mode");
  for (uint32_t v : values) {
    MemberValue m;
    m.kind = tek::K_ENUM;
    m.name = "m" + std::to_string(t.members.size());
    m.value = v;
    t.members.push_back(m);
  }
  t.type.count = static_cast<uint32_t>(t.members.size());
  return t;
}

std::vector<TypeRecords> operator+(std::vector<TypeRecords> a, const std::vector<TypeRecords>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

struct CopyCase {
  const char* name;
  std::vector<TypeRecords> types;
  Settled want;
};

const CopyCase CASES[] = {
    {"PointersToOneType",
     {refers(tek::K_32POINTER, 300, INT), refers(tek::K_32POINTER, 301, INT),
      refers(tek::K_32POINTER, 302, CHAR)},
     {{300, 302}, {{301, 300}}}},
    {"MemberTypesAfterTheirStructure",
     record_group(300) + record_group(400),
     {{300, 301, 302}, {{400, 300}, {401, 301}, {402, 302}}}},
    // Where the structures differ, the members' types are still copies.
    {"AMemberOffsetDiffers",
     record_group(300) + record_group(400, 6),
     {{300, 301, 302, 400}, {{401, 301}, {402, 302}}}},
    // After a copy of 300, the type that came after 300 is tried first: it differs in an
    // offset alone.
    {"TheOriginalTriedFirstDiffers",
     {refers(tek::K_32POINTER, 300, INT), structure(301, "s", 4, {{"x", {INT, 0}}}),
      refers(tek::K_32POINTER, 302, INT), structure(303, "s", 4, {{"x", {INT, 2}}}),
      refers(tek::K_32POINTER, 304, INT), structure(305, "s", 4, {{"x", {INT, 2}}})},
     {{300, 301, 303}, {{302, 300}, {304, 300}, {305, 303}}}},
    {"AnEnumeratorValueDiffers",
     {enumeration(300, {0, 1}), enumeration(301, {0, 2}), enumeration(302, {0, 1}),
      enumeration(303, {0, 2})},
     {{300, 301}, {{302, 300}, {303, 301}}}},
    // Types on a loop of references keep their records: a loop is warned about at each one.
    {"ALoopOfReferences",
     std::vector<TypeRecords>{
         structure(300, "node", 4, {{"next", {301, 0}}}), refers(tek::K_32POINTER, 301, 300),
         structure(400, "node", 4, {{"next", {401, 0}}}), refers(tek::K_32POINTER, 401, 400)},
     {{300, 301, 400, 401}, {}}},
    {"APointerToItself",
     {refers(tek::K_32POINTER, 300, 300), refers(tek::K_32POINTER, 400, 400)},
     {{300, 400}, {}}},
    // A function type takes its parameters from its function: it and what leads to it stay.
    {"FunctionTypes",
     {refers(tek::K_FUNCTION, 300, INT), refers(tek::K_32POINTER, 301, 300),
      refers(tek::K_FUNCTION, 400, INT), refers(tek::K_32POINTER, 401, 400)},
     {{300, 301, 400, 401}, {}}},
    // A second definition of a selfix is kept, to be reported; its selfix stands for the first.
    {"ASelfixDefinedAgain",
     {refers(tek::K_32POINTER, 300, INT), refers(tek::K_32POINTER, 300, INT)},
     {{300, 300}, {}}},
    // The long types keep their own DIEs (named long), though int has the same kind.
    {"IntegerTypes",
     {type(tek::PREDEFINED_KINDS[INT - 256], 300), type(tek::PREDEFINED_KINDS[LONG - 256], 301),
      refers(tek::K_32POINTER, 302, LONG), refers(tek::K_32POINTER, 303, INT)},
     {{302, 303}, {{300, INT}, {301, INT}}}},
    // Two types alike among the types held open are left to the type search; the copies that
    // come later stand for the first of them.
    {"AlikeAmongOpenTypes",
     {structure(300, "pair", 8, {{"a", {301, 0}}, {"b", {302, 4}}}),
      refers(tek::K_32POINTER, 301, INT), refers(tek::K_32POINTER, 302, INT),
      refers(tek::K_32POINTER, 303, INT)},
     {{300, 301, 302}, {{303, 301}}}},
};

void PrintTo(const CopyCase& c, std::ostream* os) {
  *os << c.name;
}

class ElfTypeCopies : public ::testing::TestWithParam<CopyCase> {};

TEST_P(ElfTypeCopies, DroppedAsTheyCome) {
  const CopyCase& c = GetParam();
  const Settled got = settle(c.types);
  EXPECT_EQ(got.kept, c.want.kept);
  EXPECT_EQ(got.copies, c.want.copies);
}

INSTANTIATE_TEST_SUITE_P(Shapes, ElfTypeCopies, ::testing::ValuesIn(CASES),
                         [](const auto& info) { return std::string(info.param.name); });

// A reference that no type answers holds the types after it open only so long: past 4,096 of
// them they are kept as they came, and the copies after that are dropped again.
TEST(ElfTypeCopiesBound, AReferenceNeverAnswered) {
  std::vector<TypeRecords> types = {refers(tek::K_32POINTER, 300, 0x7000)};
  for (uint32_t s = 301; s <= 5300; ++s) types.push_back(refers(tek::K_32POINTER, s, INT));
  const Settled got = settle(types);
  ASSERT_EQ(got.kept.size(), 4097u);
  EXPECT_EQ(got.kept.back(), 4396u);
  EXPECT_EQ(got.copies.size(), 904u);
  EXPECT_EQ(got.copies.begin()->first, 4397u);
  for (const auto& [copy, original] : got.copies) EXPECT_EQ(original, 4396u) << copy;
}

// A type that waits for more than 256 types is kept as it came at once, so each type that comes
// after it looks among a few waiting references only.
TEST(ElfTypeCopiesBound, ManyReferencesWaiting) {
  TypeRecords wide = type(tek::K_STRUCT, 300, "wide");
  for (uint32_t k = 0; k < 300; ++k) {
    MemberValue m;
    m.kind = tek::K_STRUCT;
    m.name = "f";
    m.name += std::to_string(k);
    m.typeix = 1000 + k;  // types that never come
    m.offset = 4 * k;
    wide.members.push_back(m);
  }
  wide.type.count = 300;
  const Settled got =
      settle({wide, refers(tek::K_32POINTER, 301, INT), refers(tek::K_32POINTER, 302, INT)});
  EXPECT_EQ(got.kept, (std::vector<uint32_t>{300, 301}));
  EXPECT_EQ(got.copies, (std::map<uint32_t, uint32_t>{{302, 301}}));
}

}  // namespace
