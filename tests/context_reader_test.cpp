// The public reader of context files: converted files read back record by record with their
// fields, the same records from a path, memory and streams, files that end or break inside a
// record, and the structure check.
#include "tekconv/context_reader.hpp"

#include <errno.h>
#include <stdio.h>
#include <sys/stat.h>

#include <algorithm>
#include <fstream>
#include <sstream>

#include "support.hpp"

using namespace tektest;
using tekrec::Builder;
namespace R = tekrec;
using tekconv::ContextField;
using tekconv::ContextReader;
using tekconv::ContextRecord;
using tekconv::FieldKind;

namespace {

class ContextReaderTest : public TempDirTest {};

// Every record of a reader, or the error that stopped it and the records before it.
struct ReadAll {
  std::vector<ContextRecord> records;
  std::optional<tekconv::Error> error;
};

ReadAll read_all(ContextReader& r) {
  ReadAll all;
  for (;;) {
    tekconv::Expected<const ContextRecord*> next = r.next();
    if (!next) {
      all.error = next.error();
      return all;
    }
    if (!*next) return all;
    all.records.push_back(**next);
  }
}

ReadAll read_bytes(const Bytes& b) {
  ContextReader r(b);
  return read_all(r);
}

// Expected fields.
ContextField u(std::string_view name, uint32_t v) {
  ContextField f;
  f.name = name;
  f.number = v;
  return f;
}
ContextField s(std::string_view name, int32_t v) {
  ContextField f = u(name, static_cast<uint32_t>(v));
  f.kind = FieldKind::Signed;
  return f;
}
ContextField code(std::string_view name, uint32_t v, std::string_view code_name) {
  ContextField f = u(name, v);
  f.is_code = true;
  f.code_name = code_name;
  return f;
}
ContextField str(std::string_view name, const std::string& text) {
  ContextField f;
  f.name = name;
  f.kind = FieldKind::String;
  f.text = text;
  return f;
}
ContextField bytes(std::string_view name, const Bytes& b) {
  ContextField f;
  f.name = name;
  f.kind = FieldKind::Bytes;
  f.bytes = b;
  return f;
}

// Expected records of a file, each at the offset where the one before it ends.
struct Expect {
  uint8_t tag;
  std::string_view name;
  size_t size;
  std::vector<ContextField> fields;
};
std::vector<ContextRecord> file_of(const std::vector<Expect>& expects) {
  std::vector<ContextRecord> records;
  uint64_t offset = 0;
  for (const Expect& e : expects) {
    records.push_back({offset, e.size, e.tag, e.name, e.fields});
    offset += e.size;
  }
  return records;
}

// The 16 predefined TYPE records that open every type section.
std::vector<Expect> predefined_types() {
  const std::pair<uint32_t, const char*> kinds[] = {
      {1, "VOID"},      {1, "VOID"},       {2, "8SIGNED"},  {3, "8UNSIGNED"},
      {4, "16SIGNED"},  {5, "16UNSIGNED"}, {6, "32SIGNED"}, {7, "32UNSIGNED"},
      {6, "32SIGNED"},  {7, "32UNSIGNED"}, {10, "32FLOAT"}, {11, "64FLOAT"},
      {12, "EXTFLOAT"}, {1, "VOID"},       {1, "VOID"},     {1, "VOID"}};
  std::vector<Expect> types;
  uint32_t selfix = T_VOID;
  for (const auto& [kind, name] : kinds)
    types.push_back({9, "TYPE", 6, {code("type", kind, name), u("selfix", selfix++)}});
  return types;
}

// A small program: an image of 4 bytes, a structure variable, a function with a stack local
// and a register local.
Builder small_program() {
  Builder b = program();
  b.sect(0, 0).data({0x4E, 0x71, 0x4E, 0x75});
  b.symbol(structure(0x30, "S", 4)).aggr_begin().symbol(member("x", 1, 0)).aggr_end();
  b.symbol(sym(R::VARIABLE, "v", R::type_id(0x30), R::in_section(2, 1, 0, 4)));
  b.symbol(sym(R::FUNCTION, "f", R::basic_type(1), R::in_section(2, 0, 0, 4), 0x21)).attr(0, 0);
  b.symbol(sym(R::VARIABLE, "b", R::basic_type(2), R::in_frame(0xFFFFFFFC)));
  b.symbol(sym(R::VARIABLE, "r", R::basic_type(1), R::in_register("R3"))).blkend(0x40);
  return b.end();
}

std::vector<ContextRecord> small_program_records() {
  std::vector<Expect> e = {
      {0, "HEADER", 13, {s("ver", 118), u("compiler", 6), s("compiler_ver", 0), u("cpu", 0)}},
      {13, "MODULE", 7, {u("modix", 1), str("name", "m")}},
      {11,
       "OBJECT",
       13,
       {u("mode", 2), u("addr", 0x1000), u("length", 4), bytes("data", {0x4E, 0x71, 0x4E, 0x75})}},
      {1,
       "PUBLIC",
       18,
       {u("mode", 0), u("addr", 0x2000), code("class", 1, "EXT"), u("typeix", FIRST_SELFIX),
        u("modix", 1), str("name", "v")}},
      {1,
       "PUBLIC",
       18,
       {u("mode", 0), u("addr", 0x1000), code("class", 1, "EXT"), u("typeix", FIRST_SELFIX + 1),
        u("modix", 1), str("name", "f")}},
      {2, "STARTLOCAL", 5, {u("addr", 0x1000)}},
      // A stack offset is signed; a register number is not.
      {4,
       "SETLOCAL",
       12,
       {code("class", 3, "AUTO"), s("offset", -4), u("typeix", T_CHAR), str("name", "b")}},
      {4,
       "SETLOCAL",
       12,
       {code("class", 4, "REG"), u("offset", 3), u("typeix", T_INT), str("name", "r")}},
      {3, "ENDLOCAL", 5, {u("addr", 0x1003)}},
  };
  for (const Expect& t : predefined_types()) e.push_back(t);
  e.push_back({9,
               "TYPE",
               16,
               {code("type", 13, "STRUCT"), u("selfix", FIRST_SELFIX), u("size", 4), u("count", 1),
                str("name", "S")}});
  e.push_back({10, "MEMBER", 11, {u("typeix", T_INT), u("offset", 0), str("name", "x")}});
  e.push_back({9,
               "TYPE",
               12,
               {code("type", 16, "FUNCTION"), u("selfix", FIRST_SELFIX + 1), u("retix", T_INT),
                u("argc", 0)}});
  return file_of(e);
}

std::string show(const ContextRecord& r) {
  std::ostringstream out;
  out << r.offset << " " << r.size << " " << int(r.tag) << " " << r.name << ":";
  for (const ContextField& f : r.fields) {
    out << " " << f.name << "=";
    switch (f.kind) {
      case FieldKind::Unsigned:
        out << "u" << f.number;
        break;
      case FieldKind::Signed:
        out << "s" << f.value();
        break;
      case FieldKind::String:
        out << "'" << f.text << "'";
        break;
      case FieldKind::Bytes:
        out << hex(f.bytes);
        break;
    }
    if (f.is_code) out << "(" << f.code_name << ")";
  }
  return out.str();
}

std::string show(const std::vector<ContextRecord>& records) {
  std::string text;
  for (const ContextRecord& r : records) text += show(r) + "\n";
  return text;
}

void write_bytes(const std::string& path, const Bytes& b) {
  write_file(path, std::string(b.begin(), b.end()));
}

// ---------------------------------------------------------------------------------------------

// Every record of a converted file in order, each whole: offset, size, tag, name and fields
// with their kinds and code names.
TEST_F(ContextReaderTest, ReadsEveryRecordWithItsFields) {
  const Bytes ctx = convert(small_program());
  const ReadAll all = read_bytes(ctx);
  ASSERT_FALSE(all.error) << all.error->message();
  const std::vector<ContextRecord> expected = small_program_records();
  EXPECT_EQ(show(all.records), show(expected));
  EXPECT_TRUE(all.records == expected);
  EXPECT_EQ(expected.back().offset + expected.back().size, ctx.size());

  const ContextRecord& pub = all.records[3];
  ASSERT_NE(pub.field("name"), nullptr);
  EXPECT_EQ(pub.field("name")->text, "v");
  EXPECT_EQ(pub.field("data"), nullptr);
  EXPECT_EQ(all.records[6].field("offset")->value(), -4);
}

// A file larger than the reader's buffer of two records gives the same records from a path, a
// stdio stream (a file and a pipe), a C++ stream and memory.
TEST_F(ContextReaderTest, SameRecordsFromPathMemoryAndStreams) {
  Builder b = program();
  b.sect(0, 0);
  for (uint32_t i = 0; i < 48; ++i) {
    Bytes block(0x1000);
    for (size_t k = 0; k < block.size(); ++k) block[k] = static_cast<uint8_t>(i * 7 + k * 31);
    b.data(block);
  }
  for (int i = 0; i < 200; ++i)
    b.symbol(sym(R::VARIABLE, "v" + std::to_string(i), R::basic_type(1),
                 R::in_section(2, 1, 4 * static_cast<uint32_t>(i), 4)));
  const Bytes ctx = convert(b.end());
  ASSERT_GT(ctx.size(), 3 * 0x10000u);
  write_bytes("in.ctx", ctx);

  const ReadAll expected = read_bytes(ctx);
  ASSERT_FALSE(expected.error);
  ASSERT_GT(expected.records.size(), 200u);
  size_t data_bytes = 0;
  for (const ContextRecord& r : expected.records) {
    for (const ContextField& f : r.fields) {
      EXPECT_NE(f.name, "?") << show(r);
      data_bytes += f.bytes.size();
    }
  }
  EXPECT_EQ(data_bytes, 48u * 0x1000);

  auto check = [&](ContextReader& r, const char* how) {
    const ReadAll all = read_all(r);
    EXPECT_FALSE(all.error) << how;
    EXPECT_TRUE(all.records == expected.records) << how;
    EXPECT_EQ(r.offset(), ctx.size()) << how;
  };
  tekconv::Expected<ContextReader> by_path = ContextReader::open("in.ctx");
  ASSERT_TRUE(by_path);
  check(*by_path, "path");
  FILE* file = std::fopen("in.ctx", "rb");
  ASSERT_NE(file, nullptr);
  {
    ContextReader r(file);
    check(r, "FILE*");
  }
  std::fclose(file);
  FILE* pipe = ::popen("cat in.ctx", "r");
  ASSERT_NE(pipe, nullptr);
  {
    ContextReader r(pipe);
    check(r, "pipe");
  }
  ::pclose(pipe);
  std::ifstream in("in.ctx", std::ios::binary);
  ContextReader r(in);
  check(r, "istream");
}

// A file cut anywhere inside a record reads up to that record, then gives an error at its offset
// that names it, as often as it is asked.
TEST_F(ContextReaderTest, CutFileIsAnErrorAtTheCutRecord) {
  const Bytes ctx = convert(small_program());
  const std::vector<ContextRecord> records = small_program_records();
  for (size_t n = 0; n < ctx.size(); ++n) {
    const Bytes cut(ctx.begin(), ctx.begin() + static_cast<long>(n));
    const auto at = std::find_if(records.begin(), records.end(),
                                 [&](const ContextRecord& r) { return r.offset + r.size > n; });
    ContextReader reader(cut);
    const ReadAll all = read_all(reader);
    EXPECT_TRUE(std::equal(all.records.begin(), all.records.end(), records.begin(), at)) << n;
    if (at->offset == n) {
      EXPECT_FALSE(all.error) << n;
      continue;
    }
    ASSERT_TRUE(all.error) << n;
    EXPECT_EQ(all.error->code(), tekconv::Error::Code::Malformed);
    EXPECT_EQ(all.error->offset(), at->offset) << n;
    EXPECT_EQ(all.error->message(), std::string(at->name) + " record cut short by the end of the " +
                                        "file (" + std::to_string(n - at->offset) + " bytes left)");
    tekconv::Expected<const ContextRecord*> again = reader.next();
    ASSERT_FALSE(again);
    EXPECT_EQ(again.error().offset(), at->offset);
    EXPECT_EQ(reader.offset(), at->offset);
  }

  // The same from a file, read through the buffer.
  write_bytes("cut.ctx", Bytes(ctx.begin(), ctx.end() - 3));
  tekconv::Expected<ContextReader> reader = ContextReader::open("cut.ctx");
  ASSERT_TRUE(reader);
  const ReadAll all = read_all(*reader);
  ASSERT_TRUE(all.error);
  EXPECT_EQ(all.error->offset(), records.back().offset);
  EXPECT_EQ(all.error->message(), "TYPE record cut short by the end of the file (9 bytes left)");
  EXPECT_EQ(all.records.size(), records.size() - 1);
}

// A byte where a tag belongs that no record has: the records before it, then an error there.
TEST_F(ContextReaderTest, UnknownTagIsAnErrorAtItsOffset) {
  const std::vector<ContextRecord> records = small_program_records();
  for (const size_t i : {size_t{0}, size_t{5}, records.size() - 2}) {
    for (const uint8_t tag : {8, 12, 0xFF}) {
      Bytes ctx = convert(small_program());
      ctx[records[i].offset] = tag;
      const ReadAll all = read_bytes(ctx);
      EXPECT_TRUE(std::equal(all.records.begin(), all.records.end(), records.begin(),
                             records.begin() + static_cast<long>(i)));
      ASSERT_TRUE(all.error);
      EXPECT_EQ(all.error->code(), tekconv::Error::Code::Malformed);
      EXPECT_EQ(all.error->offset(), records[i].offset);
      char text[80];
      std::snprintf(text, sizeof text,
                    "unknown record tag %02x; the rest of the file cannot be read", tag);
      EXPECT_EQ(all.error->message(), text);
    }
  }
}

// An empty file has no records; one that cannot be opened is a system error without an offset.
TEST_F(ContextReaderTest, EmptyAndMissingFiles) {
  write_file("empty.ctx", "");
  tekconv::Expected<ContextReader> by_path = ContextReader::open("empty.ctx");
  ASSERT_TRUE(by_path);
  ContextReader in_memory(std::span<const uint8_t>{});
  for (ContextReader* r : {&*by_path, &in_memory}) {
    tekconv::Expected<const ContextRecord*> next = r->next();
    ASSERT_TRUE(next);
    EXPECT_EQ(*next, nullptr);
    EXPECT_EQ(r->offset(), 0u);
    EXPECT_EQ(r->listing(), "");
  }

  tekconv::Expected<ContextReader> missing = ContextReader::open("missing.ctx");
  ASSERT_FALSE(missing);
  EXPECT_EQ(missing.error().code(), tekconv::Error::Code::System);
  EXPECT_EQ(missing.error().system_error(), ENOENT);
  EXPECT_FALSE(missing.error().offset());
  EXPECT_EQ(missing.error().message(), "cannot open missing.ctx: No such file or directory");

  // A directory opens, but cannot be read.
  ::mkdir("dir.ctx", 0755);
  tekconv::Expected<ContextReader> dir = ContextReader::open("dir.ctx");
  ASSERT_TRUE(dir);
  tekconv::Expected<const ContextRecord*> next = dir->next();
  ASSERT_FALSE(next);
  EXPECT_EQ(next.error().code(), tekconv::Error::Code::System);
  EXPECT_EQ(next.error().system_error(), EISDIR);
}

// Each record's line is the line that the symbol dump printed for it when the program was
// converted (which lists the records as they are made, not in the order of the file).
TEST_F(ContextReaderTest, ListingIsTheSymbolDumpLine) {
  const Builder b = small_program();
  const Bytes ctx = convert(b);
  ContextReader reader(ctx);
  std::string listed;
  for (auto next = reader.next(); next && *next; next = reader.next())
    listed += std::string(reader.listing()) + "\n";
  std::vector<std::string> lines = lines_of(listed);
  std::vector<std::string> dumped = lines_of(dump(b, "-s").substr(1) + "\n");
  ASSERT_EQ(lines.size(), small_program_records().size());
  std::sort(lines.begin(), lines.end());
  std::sort(dumped.begin(), dumped.end());
  EXPECT_EQ(lines, dumped);
}

// The structure check: a converted file is sound, whether read twice (a path) or once (a pipe),
// though its PUBLIC records refer to types defined after them; a cut one stops at the cut.
TEST_F(ContextReaderTest, VerifyFromPathPipeAndMemory) {
  const Bytes ctx = convert(small_program());
  write_bytes("in.ctx", ctx);
  tekconv::Expected<ContextReader> by_path = ContextReader::open("in.ctx");
  ASSERT_TRUE(by_path);
  FILE* pipe = ::popen("cat in.ctx", "r");
  ASSERT_NE(pipe, nullptr);
  ContextReader by_pipe(pipe);
  for (ContextReader* r : {&*by_path, &by_pipe}) {
    tekconv::Expected<tekconv::ContextVerdict> v = tekconv::verify_context(*r);
    ASSERT_TRUE(v);
    EXPECT_TRUE(v->problems.empty()) << v->problems.front().text;
    EXPECT_TRUE(v->complete);
    EXPECT_EQ(v->records, small_program_records().size());
    EXPECT_EQ(v->size, ctx.size());
    EXPECT_EQ(v->stop_offset, ctx.size());
  }
  ::pclose(pipe);

  // Cut inside the STRUCT's MEMBER: its TYPE's member count cannot be judged, nor references.
  const ContextRecord member = small_program_records()[26];
  ASSERT_EQ(member.name, "MEMBER");
  const Bytes cut(ctx.begin(), ctx.begin() + static_cast<long>(member.offset + 2));
  ContextReader reader(cut);
  tekconv::Expected<tekconv::ContextVerdict> v = tekconv::verify_context(reader);
  ASSERT_TRUE(v);
  EXPECT_FALSE(v->complete);
  EXPECT_EQ(v->stop_offset, member.offset);
  EXPECT_EQ(v->size, cut.size());
  EXPECT_EQ(v->records, 26u);
  ASSERT_EQ(v->problems.size(), 1u);
  EXPECT_EQ(v->problems[0],
            (tekconv::ContextProblem{
                member.offset, "MEMBER record cut short by the end of the file (2 bytes left)"}));

  // An empty file has no type section.
  ContextReader empty(std::span<const uint8_t>{});
  v = tekconv::verify_context(empty);
  ASSERT_TRUE(v);
  EXPECT_EQ(v->records, 0u);
  ASSERT_EQ(v->problems.size(), 1u);
  EXPECT_EQ(v->problems[0].text, "no type section: the 16 predefined types are missing");
}

}  // namespace
