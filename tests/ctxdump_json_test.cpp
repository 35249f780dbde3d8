// ctxdump --json: the lines parsed back by a JSON parser and held against the text listing of
// the same file, every kind and storage class by name and code, signed fields, whole listings of
// small files, names of any bytes, the keys of every layout field.
#include <cstdlib>
#include <nlohmann/json.hpp>
#include <set>
#include <sstream>

#include "ctxdump_support.hpp"
#include "example_program.hpp"
#include "format/ctx/ctxfile.hpp"
#include "optional_tools.hpp"
#include "sample_programs.hpp"
#include "tekconv/context_reader.hpp"
#include "tools/ctxdump/json.hpp"

using namespace ctxdumptest;
using Json = nlohmann::json;

namespace {

class CtxdumpJsonTest : public TempDirTest {};

void write_bytes(const std::string& path, const Bytes& b) {
  write_file(path, std::string(b.begin(), b.end()));
}

std::vector<Json> parse_lines(const std::string& text) {
  std::vector<Json> lines;
  std::istringstream in(text);
  for (std::string l; std::getline(in, l);) lines.push_back(Json::parse(l));
  return lines;
}

std::vector<std::string> text_lines(const std::string& text) {
  return lines_of(text);
}

// The bytes that a JSON string of characters U+0000 to U+00FF stands for (the parser returns
// it in UTF-8).
std::string name_bytes(const Json& j) {
  const std::string utf8 = j.get<std::string>();
  std::string bytes;
  for (size_t i = 0; i < utf8.size(); ++i) {
    const auto c = static_cast<unsigned char>(utf8[i]);
    if (c < 0x80) {
      bytes += static_cast<char>(c);
    } else {
      EXPECT_EQ(c & 0xFE, 0xC2) << "a character above U+00FF";
      bytes += static_cast<char>(((c & 0x03) << 6) | (utf8[++i] & 0x3F));
    }
  }
  return bytes;
}

std::string trimmed(std::string s) {
  while (!s.empty() && s.back() == ' ') s.pop_back();
  return s.substr(std::min(s.size(), s.find_first_not_of(' ')));
}

// A listing line taken apart: its label and its "key=value" fields, the name without brackets.
struct Listed {
  std::string tag;
  std::map<std::string, std::string> fields;
};

Listed take_apart(const std::string& line) {
  Listed l;
  const size_t colon = line.find(':');
  l.tag = trimmed(line.substr(0, colon));
  std::string rest = line.substr(colon + 1);
  if (l.tag == "Object") {  // "Object : 00001000 - 000010ff"
    l.tag = "OBJECT";
    l.fields["first"] = rest.substr(1, 8);
    l.fields["last"] = rest.substr(12, 8);
    return l;
  }
  rest.erase(0, rest.find_first_not_of(' '));
  const size_t name =
      rest.rfind("name=[") == std::string::npos ? rest.rfind('[') : rest.rfind("name=[");
  if (name != std::string::npos) {
    const size_t open = rest.find('[', name);
    l.fields["name"] = rest.substr(open + 1, rest.size() - open - 2);
    rest.erase(name);
  }
  std::istringstream in(rest);
  for (std::string pair; std::getline(in, pair, ',');) {
    const size_t eq = pair.find('=');
    if (eq != std::string::npos)
      l.fields[trimmed(pair.substr(0, eq))] = trimmed(pair.substr(eq + 1));
  }
  return l;
}

// The fields of a JSON line that the listing leaves out.
std::set<std::string> unlisted(const Json& j) {
  if (j["tag"] == "OBJECT") return {"mode", "addr", "length", "data"};
  if (j["tag"] == "TYPE" && j["type"]["value"] == tek::K_ENUM) return {"count"};
  if (j["tag"] == "TYPE" && j["type"]["value"] == tek::K_ARRAY) return {"reserved"};
  return {};
}

// The fields that hold two's complement numbers: the version numbers and the line number that
// the listing prints in signed decimal, an AUTO variable's stack offset, a BIT type's bit offset
// and an enumeration constant.
bool is_signed(const Json& j, const std::string& key) {
  const std::string tag = j["tag"];
  return (tag == "HEADER" && (key == "ver" || key == "compiler_ver")) ||
         (tag == "LINE" && key == "line") ||
         (tag == "SETLOCAL" && key == "offset" && j["class"]["value"] == 3) ||
         (tag == "TYPE" && key == "offs") || (tag == "MEMBER" && key == "value");
}

// A code field as the JSON lines give it; the listing prints "?" for a code without a name.
Json code(uint32_t value, const std::string& listed_name) {
  return {{"name", listed_name == "?" ? Json() : Json(listed_name)}, {"value", value}};
}

uint32_t hex_value(const std::string& s) {
  return static_cast<uint32_t>(std::stoul(s, nullptr, 16));
}

// Holds each JSON line against the listing line of the same record, field by field, and its
// offset and data bytes against the file.
void check_json_against_listing(const std::string& path) {
  const Bytes file = file_bytes(path);
  const DumpRun listed = run_ctxdump({path});
  const DumpRun json = run_ctxdump({"--json", "-x", path});
  ASSERT_EQ(json.status, listed.status);
  EXPECT_EQ(json.err, listed.err);
  const std::vector<std::string> lines = text_lines(listed.out);
  const std::vector<Json> objects = parse_lines(json.out);
  ASSERT_EQ(objects.size(), lines.size());
  size_t previous_end = 0;
  for (size_t i = 0; i < lines.size(); ++i) {
    SCOPED_TRACE(lines[i] + "\n" + objects[i].dump());
    const Json& j = objects[i];
    const Listed l = take_apart(lines[i]);
    EXPECT_EQ(j["tag"], l.tag);
    // The records follow each other, each at a byte holding its tag.
    const size_t offset = j["file_offset"];
    EXPECT_EQ(offset, previous_end);
    ASSERT_LT(offset, file.size());
    EXPECT_STREQ(tek::tag_name(file[offset]), l.tag.c_str());
    previous_end = i + 1 < lines.size() ? size_t(objects[i + 1]["file_offset"]) : file.size();

    std::set<std::string> keys;
    for (const auto& [key, value] : j.items())
      if (key != "file_offset" && key != "tag") keys.insert(key);
    for (const auto& [key, text] : l.fields) {
      if (key == "first" || key == "last") continue;
      keys.erase(key);
      ASSERT_TRUE(j.contains(key)) << key;
      if (key == "name") {
        const std::string name = name_bytes(j[key]);
        EXPECT_EQ(name.substr(0, name.find('\0')), text);
      } else if (key == "class") {  // "EXT"
        EXPECT_EQ(tek::class_name(j[key]["value"].get<uint8_t>()), text);
        EXPECT_EQ(j[key], code(j[key]["value"], text));
      } else if (key == "type") {  // "0x0d:STRUCT"
        EXPECT_EQ(j[key], code(hex_value(text.substr(2, 2)), text.substr(5)));
      } else if (key == "ver" || key == "compiler" || key == "compiler_ver" || key == "cpu" ||
                 key == "line") {  // decimal
        EXPECT_EQ(j[key].get<int64_t>(), std::stol(text)) << key;
      } else if (is_signed(j, key)) {
        EXPECT_EQ(j[key].get<int64_t>(), static_cast<int32_t>(hex_value(text))) << key;
      } else {
        EXPECT_EQ(j[key].get<int64_t>(), hex_value(text)) << key;
      }
    }
    EXPECT_EQ(keys, unlisted(j));
    if (l.tag == "OBJECT") {
      const uint32_t addr = j["addr"], length = j["length"];
      EXPECT_EQ(addr, hex_value(l.fields.at("first")));
      EXPECT_EQ(uint32_t(addr + length - 1), hex_value(l.fields.at("last")));
      ASSERT_LE(offset + 9 + length, file.size());
      std::string data;
      for (size_t k = 0; k < length; ++k) data += line::fmt("%02x", file[offset + 9 + k]);
      EXPECT_EQ(j["data"], data);
    }
  }
}

TEST_F(CtxdumpJsonTest, LinesAgreeWithTheListingForConvertedPrograms) {
  write_file("main.cpd", example_companion());
  ASSERT_FALSE(convert(example_program()).empty());
  check_json_against_listing("in.ctx");
  for (uint32_t seed = 1; seed <= 20; ++seed) {
    SCOPED_TRACE("seed " + std::to_string(seed));
    ASSERT_FALSE(convert(ProgramGenerator(seed).make()).empty());
    check_json_against_listing("in.ctx");
  }
}

TEST_F(CtxdumpJsonTest, EveryRecordKindAndACutFile) {
  // The kinds and member layouts that the converter does not produce, and a record cut short:
  // the lines before it, the message on standard error as with the listing.
  Ctx c;
  c.header().addr_flag(0x3000, 1).start_local(0x10).set_local(4, 5, 0x106, "r").end_local(0x20);
  c.type(9, 0x120).aggregate(20, 0x121, 4, 1, "bf");
  Bytes b = c.bytes();
  const Bytes more[] = {
      {10, 0x21, 1, 0, 0, 2, 0, 0, 0, 3, 0, 0, 0, 1, 'x'},  // a BITFIELD member
      {9, 21, 0x22, 1, 0, 0, 0x21, 1, 0, 0, 1, 't'},        // a TYPEDEF
      Ctx().pointer(23, 0x123, 0x120).member(1, 2, "none").array(0x124, 0x102, 3).bytes(),
      {11, 2, 0, 0, 0x10, 0, 0, 4, 0, 1, 2}};  // an OBJECT of 4 bytes, 2 there
  for (const Bytes& m : more) b.insert(b.end(), m.begin(), m.end());
  write_bytes("t.ctx", b);
  check_json_against_listing("t.ctx");
  EXPECT_EQ(run_ctxdump({"--json", "t.ctx"}).status, 1);
}

// The whole --json output of a file of the bytes; every line parses.
std::string json_of(const Bytes& b) {
  write_bytes("t.ctx", b);
  const DumpRun r = run_ctxdump({"--json", "t.ctx"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "");
  parse_lines(r.out);
  return r.out;
}

Bytes le32(uint32_t v) {
  return {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v >> 16),
          static_cast<uint8_t>(v >> 24)};
}

Bytes operator+(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

// A code's name as the JSON lines give it: a string, or null.
std::string name_json(const char* name) {
  return name ? line::fmt("\"%s\"", name) : "null";
}

// TYPEDEF 0x120 of 0x121, named "t": Ctx has no function for it.
const Bytes TYPEDEF_RECORD = Bytes{9, tek::K_TYPEDEF} + le32(0x120) + le32(0x121) + Bytes{1, 't'};

// The kind of a TYPE record by its name and its value, with the fields of its kind; a kind
// outside the table has the name null and no kind fields.
TEST_F(CtxdumpJsonTest, EveryKindOfTypeByNameAndValue) {
  const std::string agg = R"(,"selfix":288,"size":8,"count":2,"name":"s")";
  const std::string func = R"(,"selfix":288,"retix":262,"argc":2)";
  const std::string ptr = R"(,"selfix":288,"typeix":289)";
  const struct {
    uint8_t kind;
    const char* name;
    Bytes record;
    std::string fields;  // after the kind
  } rows[] = {
      {1, "VOID", Ctx().type(1, 0x120).bytes(), R"(,"selfix":288)"},
      {2, "8SIGNED", Ctx().type(2, 0x120).bytes(), R"(,"selfix":288)"},
      {3, "8UNSIGNED", Ctx().type(3, 0x120).bytes(), R"(,"selfix":288)"},
      {4, "16SIGNED", Ctx().type(4, 0x120).bytes(), R"(,"selfix":288)"},
      {5, "16UNSIGNED", Ctx().type(5, 0x120).bytes(), R"(,"selfix":288)"},
      {6, "32SIGNED", Ctx().type(6, 0x120).bytes(), R"(,"selfix":288)"},
      {7, "32UNSIGNED", Ctx().type(7, 0x120).bytes(), R"(,"selfix":288)"},
      {8, "64SIGNED", Ctx().type(8, 0x120).bytes(), R"(,"selfix":288)"},
      {9, "64UNSIGNED", Ctx().type(9, 0x120).bytes(), R"(,"selfix":288)"},
      {10, "32FLOAT", Ctx().type(10, 0x120).bytes(), R"(,"selfix":288)"},
      {11, "64FLOAT", Ctx().type(11, 0x120).bytes(), R"(,"selfix":288)"},
      {12, "EXTFLOAT", Ctx().type(12, 0x120).bytes(), R"(,"selfix":288)"},
      {13, "STRUCT", Ctx().aggregate(13, 0x120, 8, 2, "s").bytes(), agg},
      {14, "UNION", Ctx().aggregate(14, 0x120, 8, 2, "s").bytes(), agg},
      {15, "ENUM", Ctx().enumeration(0x120, 3, "e").bytes(),
       R"(,"selfix":288,"count":3,"name":"e")"},
      {16, "FUNCTION", Ctx().function(16, 0x120, 0x106, 2).bytes(), func},
      {17, "16POINTER", Ctx().pointer(17, 0x120, 0x121).bytes(), ptr},
      {18, "32POINTER", Ctx().pointer(18, 0x120, 0x121).bytes(), ptr},
      {19, "ARRAY", Ctx().array(0x120, 0x102, 8).bytes(),
       R"(,"selfix":288,"typeix":258,"reserved":0,"limit":8)"},
      {20, "BITFIELD", Ctx().aggregate(20, 0x120, 8, 2, "s").bytes(), agg},
      {21, "TYPEDEF", TYPEDEF_RECORD, R"(,"selfix":288,"typeix":289,"name":"t")"},
      {22, "FARFUNC", Ctx().function(22, 0x120, 0x106, 2).bytes(), func},
      {23, "ESPOINTER", Ctx().pointer(23, 0x120, 0x121).bytes(), ptr},
      {24, "SSPOINTER", Ctx().pointer(24, 0x120, 0x121).bytes(), ptr},
      {25, "CSPOINTER", Ctx().pointer(25, 0x120, 0x121).bytes(), ptr},
      {26, "HUGEPNT", Ctx().pointer(26, 0x120, 0x121).bytes(), ptr},
      {27, "BIT", Ctx().bit(0x120, 1, 3, 0xFFFFFFFE).bytes(),
       R"(,"selfix":288,"sign":1,"size":3,"offs":-2)"},
      {28, "CLASS", Ctx().aggregate(28, 0x120, 8, 2, "s").bytes(), agg},
      {0, nullptr, Ctx().type(0, 0x120).bytes(), R"(,"selfix":288)"},
      {29, nullptr, Ctx().type(29, 0x120).bytes(), R"(,"selfix":288)"},
      {255, nullptr, Ctx().type(255, 0x120).bytes(), R"(,"selfix":288)"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(int(row.kind));
    EXPECT_EQ(json_of(row.record),
              line::fmt(R"({"file_offset":0,"tag":"TYPE","type":{"name":%s,"value":%d})",
                        name_json(row.name).c_str(), row.kind) +
                  row.fields + "}\n");
  }
}

// The storage class of PUBLIC and SETLOCAL records by its name and its value. The SETLOCAL
// offset of an AUTO variable is a stack offset, signed; of the other classes an address or a
// register number, unsigned.
TEST_F(CtxdumpJsonTest, EveryStorageClassByNameAndValue) {
  const struct {
    uint8_t cls;
    const char* name;
  } rows[] = {{0, "CONST"}, {1, "EXT"},  {2, "STAT"}, {3, "AUTO"},  {4, "REG"},    {5, nullptr},
              {6, "MOD"},   {7, "NONE"}, {8, "REF"},  {9, nullptr}, {255, nullptr}};
  for (const auto& row : rows) {
    SCOPED_TRACE(int(row.cls));
    const std::string cls =
        line::fmt(R"("class":{"name":%s,"value":%d})", name_json(row.name).c_str(), row.cls);
    const char* offset = row.cls == 3 ? "-8" : "4294967288";
    EXPECT_EQ(json_of(Ctx()
                          .pub(0, 0xFFFFFFF8, row.cls, 0x106, 1, "p")
                          .set_local(row.cls, 0xFFFFFFF8, 0x106, "v")
                          .bytes()),
              R"({"file_offset":0,"tag":"PUBLIC","mode":0,"addr":4294967288,)" + cls +
                  R"(,"typeix":262,"modix":1,"name":"p"})"
                  "\n"
                  R"({"file_offset":18,"tag":"SETLOCAL",)" +
                  cls + R"(,"offset":)" + offset +
                  R"(,"typeix":262,"name":"v"})"
                  "\n");
  }
}

// Signed fields at the ends of their range, and unsigned fields with the top bit set.
TEST_F(CtxdumpJsonTest, SignedAndUnsignedFields) {
  const Bytes header = Bytes{0} + le32(0xFFFFFFFF) + Bytes{0xFF, 0xFF} + le32(0x80000000) +
                       Bytes{0xFF, 0xFF};  // ver -1, compiler 0xffff, compiler_ver, cpu 0xffff
  Ctx c;
  c.line(0xFFFFFFFF, 0xFFFFFFFF).line(0x7FFFFFFF, 0x80000000).addr_flag(0xFFFFFFFF, 0x80000000);
  c.module(0xFFFFFFFF, "m").start_local(0xFFFFFFFF).end_local(0x80000000);
  c.enumeration(0x120, 3, "e").constant(0xFFFFFFFF, "A").constant(0x80000000, "B");
  c.constant(0x7FFFFFFF, "C").bit(0x121, 0, 0xFFFFFFFF, 0x80000000);
  c.aggregate(13, 0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF, "s").member(0xFFFFFFFF, 0xFFFFFFFF, "m");
  c.aggregate(20, 0x122, 4, 1, "b");
  const Bytes bitfield_member =
      Bytes{10} + le32(0x106) + le32(0xFFFFFFFE) + le32(0x80000000) + Bytes{1, 'f'};
  EXPECT_EQ(
      json_of(header + c.bytes() + bitfield_member),
      R"({"file_offset":0,"tag":"HEADER","ver":-1,"compiler":65535,"compiler_ver":-2147483648,"cpu":65535}
{"file_offset":13,"tag":"LINE","line":-1,"addr":4294967295}
{"file_offset":22,"tag":"LINE","line":2147483647,"addr":2147483648}
{"file_offset":31,"tag":"ADDRFLAG","addr":4294967295,"flag":2147483648}
{"file_offset":40,"tag":"MODULE","modix":4294967295,"name":"m"}
{"file_offset":47,"tag":"STARTLOCAL","addr":4294967295}
{"file_offset":52,"tag":"ENDLOCAL","addr":2147483648}
{"file_offset":57,"tag":"TYPE","type":{"name":"ENUM","value":15},"selfix":288,"count":3,"name":"e"}
{"file_offset":69,"tag":"MEMBER","value":-1,"name":"A"}
{"file_offset":76,"tag":"MEMBER","value":-2147483648,"name":"B"}
{"file_offset":83,"tag":"MEMBER","value":2147483647,"name":"C"}
{"file_offset":90,"tag":"TYPE","type":{"name":"BIT","value":27},"selfix":289,"sign":0,"size":4294967295,"offs":-2147483648}
{"file_offset":105,"tag":"TYPE","type":{"name":"STRUCT","value":13},"selfix":4294967295,"size":4294967295,"count":4294967295,"name":"s"}
{"file_offset":121,"tag":"MEMBER","typeix":4294967295,"offset":4294967295,"name":"m"}
{"file_offset":132,"tag":"TYPE","type":{"name":"BITFIELD","value":20},"selfix":290,"size":4,"count":1,"name":"b"}
{"file_offset":148,"tag":"MEMBER","typeix":262,"bitoffs":4294967294,"bitsize":2147483648,"name":"f"}
)");
}

// A small program converted and listed whole: negative stack and bit offsets and a negative
// enumeration constant as the converter writes them, the classes of globals and locals, the
// kinds the program's types take.
TEST_F(CtxdumpJsonTest, ListsAConvertedProgramWhole) {
  Builder b = program();
  b.symbol(structure(0x100, "flags", 4)).aggr_begin();
  b.symbol({MEMBER, 0, "lo", basic_type(1), bitfield_at(0, 3, -2), {}}).aggr_end();
  b.symbol(enum_tag(0x101, "sign")).aggr_begin().symbol(constant("MINUS", "FFFFFFFF")).aggr_end();
  b.symbol({VARIABLE, 0, "g", basic_type(1), in_section(2, 1, 0x10, 4), {}});
  b.symbol({VARIABLE, 0, "h", basic_type(2), in_section(5, 1, 0x14, 1), {}});
  b.symbol({FUNCTION, 0x102, "f", basic_type(1), in_section(2, 0, 0x10, 0x40), {}});
  b.symbol({VARIABLE, 0, "a", basic_type(1), in_frame(0xFFFFFFF8), {}});
  b.symbol({VARIABLE, 0, "r", basic_type(2), in_register("R5"), {}});
  b.symbol({VARIABLE, 0, "s", basic_type(3), in_section(4, 2, 0x20, 2), {}});
  b.blkend(0x40).end();
  ASSERT_FALSE(convert(b).empty());
  const DumpRun r = run_ctxdump({"--json", "in.ctx"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "");
  // The predefined types, 6 bytes each.
  std::string predefined;
  size_t at = 120;
  const char* const names[16] = {"VOID",     "VOID",       "8SIGNED",  "8UNSIGNED",
                                 "16SIGNED", "16UNSIGNED", "32SIGNED", "32UNSIGNED",
                                 "32SIGNED", "32UNSIGNED", "32FLOAT",  "64FLOAT",
                                 "EXTFLOAT", "VOID",       "VOID",     "VOID"};
  const int kinds[16] = {1, 1, 2, 3, 4, 5, 6, 7, 6, 7, 10, 11, 12, 1, 1, 1};
  for (int i = 0; i < 16; ++i, at += 6)
    predefined +=
        line::fmt(R"({"file_offset":%zu,"tag":"TYPE","type":{"name":"%s","value":%d},"selfix":%d})"
                  "\n",
                  at, names[i], kinds[i], 256 + i);
  EXPECT_EQ(
      r.out,
      R"({"file_offset":0,"tag":"HEADER","ver":118,"compiler":6,"compiler_ver":0,"cpu":0}
{"file_offset":13,"tag":"MODULE","modix":1,"name":"m"}
{"file_offset":20,"tag":"PUBLIC","mode":0,"addr":8208,"class":{"name":"EXT","value":1},"typeix":262,"modix":1,"name":"g"}
{"file_offset":38,"tag":"PUBLIC","mode":0,"addr":8212,"class":{"name":"STAT","value":2},"typeix":258,"modix":1,"name":"h"}
{"file_offset":56,"tag":"PUBLIC","mode":0,"addr":4112,"class":{"name":"EXT","value":1},"typeix":291,"modix":1,"name":"f"}
{"file_offset":74,"tag":"STARTLOCAL","addr":4112}
{"file_offset":79,"tag":"SETLOCAL","class":{"name":"AUTO","value":3},"offset":-8,"typeix":262,"name":"a"}
{"file_offset":91,"tag":"SETLOCAL","class":{"name":"REG","value":4},"offset":5,"typeix":258,"name":"r"}
{"file_offset":103,"tag":"SETLOCAL","class":{"name":"STAT","value":2},"offset":12320,"typeix":261,"name":"s"}
{"file_offset":115,"tag":"ENDLOCAL","addr":4175}
)" + predefined +
          R"({"file_offset":216,"tag":"TYPE","type":{"name":"BIT","value":27},"selfix":289,"sign":1,"size":3,"offs":-2}
{"file_offset":231,"tag":"TYPE","type":{"name":"STRUCT","value":13},"selfix":288,"size":4,"count":1,"name":"flags"}
{"file_offset":251,"tag":"MEMBER","typeix":289,"offset":0,"name":"lo"}
{"file_offset":263,"tag":"TYPE","type":{"name":"ENUM","value":15},"selfix":290,"count":1,"name":"sign"}
{"file_offset":278,"tag":"MEMBER","value":-1,"name":"MINUS"}
{"file_offset":289,"tag":"TYPE","type":{"name":"FUNCTION","value":16},"selfix":291,"retix":262,"argc":0}
)");
}

// Any byte of a name gives valid JSON, and the parser gives the bytes back. Output is ASCII.
TEST_F(CtxdumpJsonTest, NamesOfAnyBytes) {
  std::string low, high;
  for (int i = 0; i < 0x80; ++i) low += static_cast<char>(i);
  for (int i = 0x80; i < 0x100; ++i) high += static_cast<char>(i);
  write_bytes("t.ctx", Ctx().file(low).module(7, high).bytes());
  const DumpRun r = run_ctxdump({"--json", "t.ctx"});
  EXPECT_EQ(r.status, 0);
  for (char c : r.out) EXPECT_LT(static_cast<unsigned char>(c), 0x80);
  const std::vector<Json> lines = parse_lines(r.out);
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(name_bytes(lines[0]["name"]), low);
  EXPECT_EQ(name_bytes(lines[1]["name"]), high);
  EXPECT_EQ(lines[1]["modix"], 7);
}

TEST_F(CtxdumpJsonTest, CommandLines) {
  write_bytes("a.ctx", Ctx().end_line(1).bytes());
  write_bytes("b.ctx", Ctx().end_local(0x10).bytes());
  // Several files: no headings, each line names its file; without -x no data bytes.
  DumpRun r = run_ctxdump({"--json", "a.ctx", "b.ctx"});
  EXPECT_EQ(r.status, 0);
  const std::vector<Json> lines = parse_lines(r.out);
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0], Json::parse(R"({"file":"a.ctx","file_offset":0,"tag":"ENDLINE","mode":1})"));
  EXPECT_EQ(lines[1],
            Json::parse(R"({"file":"b.ctx","file_offset":0,"tag":"ENDLOCAL","addr":16})"));
  write_bytes("o.ctx", Ctx().object(0x1000, {0xab}).bytes());
  EXPECT_EQ(Json::parse(run_ctxdump({"--json", "o.ctx"}).out).contains("data"), false);
  EXPECT_EQ(Json::parse(run_ctxdump({"--json", "--hex", "o.ctx"}).out)["data"], "ab");
  // A report is no listing.
  r = run_ctxdump({"--json", "--verify", "a.ctx"});
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err.rfind("ctxdump: --json lists records and cannot be used with --verify\n", 0), 0u);
}

// The names of a record's fields in the record layout, in file order, OBJECT data last.
std::vector<std::string> layout_names(const tek::CtxRecord& rec) {
  std::vector<std::string> names;
  tek::visit_record(rec, [&]<class V>(const V& v) {
    tek::for_each_field(v, [&](const tek::Field<V>& f) { names.push_back(f.name); });
    if constexpr (requires { v.data; }) names.push_back(tek::OBJECT_DATA_NAME);
  });
  return names;
}

// For every record of the sample programs converted: the JSON keys after the offset and the tag,
// the names of the public reader's fields and the layout's field names are one list.
TEST_F(CtxdumpJsonTest, KeysAreTheReadersFieldNamesAndTheLayouts) {
  std::set<std::string> tags;
  auto check = [&](const Bytes& ctx) {
    write_bytes("k.ctx", ctx);
    const DumpRun r = run_ctxdump({"--json", "-x", "k.ctx"});
    ASSERT_EQ(r.status, 0) << r.err;
    std::vector<nlohmann::ordered_json> lines;
    std::istringstream in(r.out);
    for (std::string l; std::getline(in, l);) lines.push_back(nlohmann::ordered_json::parse(l));
    tekconv::ContextReader reader(ctx);
    tek::CtxReader layouts(ctx);
    tek::CtxRecord rec;
    size_t i = 0;
    for (;; ++i) {
      tekconv::Expected<const tekconv::ContextRecord*> next = reader.next();
      ASSERT_TRUE(static_cast<bool>(next));
      if (!*next) break;
      ASSERT_LT(i, lines.size());
      ASSERT_EQ(layouts.read(rec), tek::CtxStep::Record);
      std::vector<std::string> keys;
      for (auto it = lines[i].begin(); it != lines[i].end(); ++it) keys.push_back(it.key());
      ASSERT_GE(keys.size(), 2u);
      EXPECT_EQ(keys[0], "file_offset");
      EXPECT_EQ(keys[1], "tag");
      keys.erase(keys.begin(), keys.begin() + 2);
      std::vector<std::string> fields;
      for (const tekconv::ContextField& f : (*next)->fields) fields.emplace_back(f.name);
      EXPECT_EQ(keys, fields) << lines[i].dump();
      EXPECT_EQ(fields, layout_names(rec)) << lines[i].dump();
      tags.insert(std::string((*next)->name));
    }
    EXPECT_EQ(i, lines.size());
  };
  for (const tekrec::Sample& sample : tekrec::sample_programs()) {
    SCOPED_TRACE(sample.name);
    std::remove("main.cpd");
    if (!sample.companion.empty()) write_file("main.cpd", sample.companion);
    const Bytes ctx = convert(sample.object);
    ASSERT_FALSE(ctx.empty());
    check(ctx);
  }
  // The programs hold every record.
  std::set<std::string> all;
  tek::for_each_record([&]<class V>() { all.insert(tek::RecordInfo<V>::name); });
  EXPECT_EQ(tags, all);
}

// Each field of every layout (TYPE and MEMBER of every kind) has a key of its own, none that
// the line itself uses.
TEST(CtxdumpJsonKeys, EveryLayoutFieldHasAKeyOfItsOwn) {
  tek::for_each_record([&]<class V>() {
    for (uint32_t kind = 0; kind < 256; ++kind) {
      V v{};
      if constexpr (requires { v.kind; }) v.kind = kind;
      std::set<std::string> used = {tek::JSON_FILE_KEY, tek::JSON_OFFSET_KEY, tek::JSON_TAG_KEY,
                                    tek::JSON_DATA_KEY};
      tek::for_each_field(v, [&](const tek::Field<V>& f) {
        const char* key = f.name;
        ASSERT_NE(key, nullptr) << tek::RecordInfo<V>::name << " kind " << kind;
        EXPECT_TRUE(used.insert(key).second) << tek::RecordInfo<V>::name << " " << key;
      });
    }
  });
}

}  // namespace
