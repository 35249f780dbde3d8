// The record layouts name their fields: every field of every record, TYPE and MEMBER under
// every kind code, has a name of its own within its record, and the name field alone is read
// as a name.
#include <gtest/gtest.h>

#include <set>
#include <string>

#include "format/ctx/ctxfile.hpp"
#include "format/ctx/kinds.hpp"

namespace {

// The layout of a record value of every kind code (one pass for the records without a kind).
template <class V, class F>
void for_each_kind_layout(F&& f) {
  for (uint32_t kind = 0; kind < 256; ++kind) {
    V v{};
    if constexpr (requires { v.kind; })
      v.kind = kind;
    else if (kind > 0)
      return;
    std::string where = tek::RecordInfo<V>::name;
    if constexpr (requires { v.kind; }) {
      const char* kind_name = tek::kind_info(kind).name;
      where +=
          std::string(" after kind ") + std::to_string(kind) + " " + (kind_name ? kind_name : "?");
    }
    f(v, where);
  }
}

TEST(RecordFields, EveryFieldHasANameOfItsOwnInItsRecord) {
  size_t layouts = 0;
  tek::for_each_record([&]<class V>() {
    for_each_kind_layout<V>([&](const V& v, const std::string& where) {
      ++layouts;
      std::set<std::string> names;
      if constexpr (requires { v.data; }) names.insert(tek::OBJECT_DATA_NAME);
      tek::for_each_field(v, [&](const tek::Field<V>& f) {
        ASSERT_NE(f.name, nullptr) << where;
        EXPECT_NE(std::string(f.name), "") << where;
        EXPECT_TRUE(names.insert(f.name).second) << where << ": two fields named " << f.name;
        // The name is the field of width 0, and only it has no member.
        EXPECT_EQ(f.form == tek::FieldForm::Name, f.width == 0) << where << " " << f.name;
        EXPECT_EQ(f.form == tek::FieldForm::Name, f.member == nullptr) << where << " " << f.name;
        if (f.form == tek::FieldForm::Name) {
          EXPECT_EQ(std::string(f.name), "name") << where;
        } else {
          EXPECT_TRUE(f.width == 1 || f.width == 2 || f.width == 4) << where << " " << f.name;
        }
        // A code that listings name by a table is one byte.
        if (f.form == tek::FieldForm::Kind || f.form == tek::FieldForm::Class) {
          EXPECT_EQ(f.width, 1) << where << " " << f.name;
        }
      });
      // A name field needs a value that holds the name.
      if constexpr (!requires { v.name; }) {
        EXPECT_FALSE(names.contains("name")) << where;
      }
    });
  });
  // Every record once, TYPE and MEMBER once per kind code.
  EXPECT_EQ(layouts, tek::RECORD_KINDS - 2 + 2 * 256);
}

// The forms that read a field by more than its bits: the kind and storage-class codes, and the
// signed fields, as listings give them.
TEST(RecordFields, FormsOfTheNumbers) {
  struct Row {
    const char* record;
    uint32_t kind;
    const char* field;
    tek::FieldForm form;
  };
  using F = tek::FieldForm;
  const Row rows[] = {
      {"HEADER", 0, "ver", F::Signed},
      {"HEADER", 0, "compiler", F::Unsigned},
      {"HEADER", 0, "compiler_ver", F::Signed},
      {"PUBLIC", 0, "class", F::Class},
      {"PUBLIC", 0, "addr", F::Unsigned},
      {"SETLOCAL", 0, "class", F::Class},
      {"SETLOCAL", 0, "offset", F::StackOffset},
      {"LINE", 0, "line", F::Signed},
      {"TYPE", tek::K_BIT, "type", F::Kind},
      {"TYPE", tek::K_BIT, "offs", F::Signed},
      {"TYPE", tek::K_BIT, "size", F::Unsigned},
      {"MEMBER", tek::K_ENUM, "value", F::Signed},
      {"MEMBER", tek::K_STRUCT, "offset", F::Unsigned},
  };
  for (const Row& row : rows) {
    bool found = false;
    tek::for_each_record([&]<class V>() {
      if (std::string(tek::RecordInfo<V>::name) != row.record) return;
      V v{};
      if constexpr (requires { v.kind; }) v.kind = row.kind;
      tek::for_each_field(v, [&](const tek::Field<V>& f) {
        if (std::string(f.name) != row.field) return;
        found = true;
        EXPECT_EQ(f.form, row.form) << row.record << " " << row.field;
      });
    });
    EXPECT_TRUE(found) << row.record << " " << row.field;
  }
}

// A stack offset reads signed only for an AUTO local; a signed field whatever its value.
TEST(RecordFields, SignedReading) {
  tek::SetLocalValue local{};
  const tek::Field<tek::SetLocalValue>& offset = tek::SETLOCAL_FIELDS[1];
  ASSERT_EQ(std::string(offset.name), "offset");
  for (uint32_t cls = 0; cls < 16; ++cls) {
    local.cls = cls;
    EXPECT_EQ(tek::reads_signed(local, offset), cls == tek::CLASS_AUTO) << cls;
  }
  EXPECT_FALSE(tek::reads_signed(local, tek::SETLOCAL_FIELDS[2]));
  const tek::LineValue line{};
  EXPECT_TRUE(tek::reads_signed(line, tek::LINE_FIELDS[0]));
  EXPECT_FALSE(tek::reads_signed(line, tek::LINE_FIELDS[1]));
}

}  // namespace
