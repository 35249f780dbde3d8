// ctxdump --json: the lines parsed back by a JSON parser and held against the text listing of
// the same file, names of any bytes, the keys of every layout field.
#include <nlohmann/json.hpp>
#include <set>
#include <sstream>

#include "ctxdump_support.hpp"
#include "example_program.hpp"
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
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string l; std::getline(in, l);) lines.push_back(l);
  return lines;
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
  if (j["tag"] == "TYPE" && j["type"] == tek::K_ENUM) return {"count"};
  if (j["tag"] == "TYPE" && j["type"] == tek::K_ARRAY) return {"reserved"};
  return {};
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
      } else if (key == "class") {
        EXPECT_EQ(tek::class_name(j[key].get<uint8_t>()), text);
      } else if (key == "type") {  // "0x0d:STRUCT"
        EXPECT_EQ(j[key], hex_value(text.substr(2, 2)));
      } else if (key == "ver" || key == "compiler" || key == "compiler_ver" || key == "cpu" ||
                 key == "line") {
        EXPECT_EQ(static_cast<int32_t>(j[key].get<uint32_t>()), std::stol(text));
      } else {
        EXPECT_EQ(j[key], hex_value(text)) << key;
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
        const char* key = tek::field_name(f);
        ASSERT_NE(key, nullptr) << tek::RecordInfo<V>::name << " kind " << kind;
        EXPECT_TRUE(used.insert(key).second) << tek::RecordInfo<V>::name << " " << key;
      });
    }
  });
}

}  // namespace
