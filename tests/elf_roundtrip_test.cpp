// Round trips through the tools: programs converted to a context file and on to ELF are
// checked by llvm-dwarfdump and readelf, their image by objcopy, and their debug information by
// gdb against what the context records say.
#include <cctype>
#include <set>

#include "elf_sample.hpp"
#include "elf_support.hpp"

using namespace elftest;

namespace {

struct Family {
  const char* processor;
  const char* reg;
  bool gdb;  // gdb-multiarch knows the machine
};

// The test's name shows the processor, not the parameter's bytes (which hold pointers, and would
// give the test another name in every build).
void PrintTo(const Family& f, std::ostream* os) {
  *os << f.processor;
}

const Family FAMILIES[] = {
    {"SH7032", "R9", true},    {"SH7750", "R3", true}, {"MC68020", "D3", true},
    {"MPC860", "R30", true},   {"ARM", "R5", true},    {"HD6433048", "ER4", false},
    {"H8S2655", "R2L", false}, {"M8086", "si", false}, {"SR320", "R7", false},
    {"RI20", "G2", false},
};

// The records of a context file, by kind.
struct TypeWithMembers {
  tek::TypeValue t;
  std::vector<tek::MemberValue> members;
};

struct Records {
  std::vector<TypeWithMembers> types;
  std::vector<tek::PublicValue> publics;
  struct Scope {
    uint32_t start;
    std::vector<tek::SetLocalValue> locals;
  };
  std::vector<Scope> scopes;
  struct Line {
    std::string file;
    uint32_t line, addr;
  };
  std::vector<Line> lines;
};

Records records_of(const Bytes& ctx) {
  Records r;
  tek::CtxReader rd{ctx};
  tek::CtxRecord rec;
  std::string file;
  while (tek::read_record(rd, rec) == tek::CtxStep::Record) {
    switch (rec.tag) {
      case tek::TAG_TYPE:
        r.types.push_back({rec.value<tek::TypeValue>(), {}});
        break;
      case tek::TAG_MEMBER:
        r.types.back().members.push_back(rec.value<tek::MemberValue>());
        break;
      case tek::TAG_PUBLIC:
        r.publics.push_back(rec.value<tek::PublicValue>());
        break;
      case tek::TAG_STARTLOCAL:
        r.scopes.push_back({rec.value<tek::StartLocalValue>().addr, {}});
        break;
      case tek::TAG_SETLOCAL:
        r.scopes.back().locals.push_back(rec.value<tek::SetLocalValue>());
        break;
      case tek::TAG_FILE:
        file = rec.value<tek::FileValue>().name;
        break;
      case tek::TAG_LINE:
        r.lines.push_back(
            {file, rec.value<tek::LineValue>().line, rec.value<tek::LineValue>().addr});
        break;
    }
  }
  return r;
}

std::string lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

std::string hex_addr(uint32_t a) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "0x%x", a);
  return buf;
}

// Runs gdb once with all commands; returns each command's output.
std::vector<std::string> gdb(const std::string& elf, const std::vector<std::string>& commands) {
  std::string cmd = "gdb-multiarch -batch -nx";
  for (const std::string& c : commands) cmd += " -ex 'echo @@\\n' -ex '" + c + "'";
  ToolRun r = run(cmd + " " + elf);
  std::vector<std::string> out;
  size_t at = r.out.find("@@\n");
  while (at != std::string::npos) {
    size_t next = r.out.find("@@\n", at + 3);
    out.push_back(r.out.substr(at + 3, next == std::string::npos ? next : next - at - 3));
    at = next;
  }
  out.resize(commands.size());
  return out;
}

// True when the text holds the declaration as a whole word (a member name, or "name : width;").
bool declares(const std::string& text, const std::string& decl) {
  auto ident = [](char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '_'; };
  for (size_t at = text.find(decl); at != std::string::npos; at = text.find(decl, at + 1)) {
    size_t end = at + decl.size();
    if ((at == 0 || !ident(text[at - 1])) && (end == text.size() || !ident(text[end]))) return true;
  }
  return false;
}

class ElfRoundTrip : public tektest::TempDirTest, public ::testing::WithParamInterface<Family> {
 protected:
  void SetUp() override {
    tektest::TempDirTest::SetUp();
    ctx_ = tektest::convert(sample_program({GetParam().processor, GetParam().reg}));
    ElfResult r = elf_of_ctx(ctx_, {{1, processor_code(GetParam().processor)}});
    EXPECT_TRUE(r.warnings.empty());
    write_bytes("prog.elf", r.elf);
  }
  Bytes ctx_;
};

TEST_P(ElfRoundTrip, DwarfVerifiesAndReadelfIsQuiet) {
  TEKTEST_REQUIRE_TOOL("llvm-dwarfdump", "readelf");
  ToolRun v = run("llvm-dwarfdump --verify prog.elf");
  EXPECT_NE(v.out.find("No errors."), std::string::npos) << v.out;
  ToolRun r = run("readelf --all --debug-dump prog.elf");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(lower(r.out).find("warning"), std::string::npos) << r.out;
  EXPECT_EQ(lower(r.out).find("error"), std::string::npos) << r.out;
}

TEST_P(ElfRoundTrip, ObjcopyReproducesTheImage) {
  TEKTEST_REQUIRE_TOOL("objcopy", "llvm-objcopy");
  uint32_t base = 0;
  Bytes expected = object_image(ctx_, base);
  ASSERT_FALSE(expected.empty());
  // GNU objcopy through its generic ELF target of the file's byte order (a host objcopy knows
  // few machines), and llvm-objcopy.
  std::string generic = tektest::file_bytes("prog.elf")[5] == 2 ? "elf32-big" : "elf32-little";
  for (std::string tool : {"objcopy -I " + generic, std::string("llvm-objcopy")}) {
    ToolRun r = run(tool + " -O binary prog.elf prog.bin");
    ASSERT_EQ(r.status, 0) << tool << ": " << r.out;
    EXPECT_BYTES(tektest::file_bytes("prog.bin"), expected);
  }
}

TEST_P(ElfRoundTrip, GdbSeesWhatTheRecordsSay) {
  if (!GetParam().gdb) GTEST_SKIP() << "gdb has no support for this machine";
  TEKTEST_REQUIRE_TOOL("gdb-multiarch");
  Records rec = records_of(ctx_);
  std::vector<std::string> cmds;
  std::vector<std::function<void(const std::string&)>> checks;
  auto ask = [&](std::string cmd, std::function<void(const std::string&)> check) {
    cmds.push_back(std::move(cmd));
    checks.push_back(std::move(check));
  };
  auto expect_in = [](std::string want) {
    return [want](const std::string& out) {
      EXPECT_NE(out.find(want), std::string::npos) << "want: " << want << "\nin: " << out;
    };
  };

  std::set<uint32_t> function_types;
  std::map<uint32_t, uint32_t> bit_types;  // selfix -> width
  for (const TypeWithMembers& t : rec.types)
    if (t.t.kind == tek::K_BIT) bit_types[t.t.selfix] = t.t.size;
  for (const TypeWithMembers& t : rec.types) {
    const tek::TypeValue& v = t.t;
    if (v.kind == tek::K_FUNCTION) function_types.insert(v.selfix);
    if (v.kind == tek::K_STRUCT || v.kind == tek::K_UNION) {
      std::string what = (v.kind == tek::K_STRUCT ? "struct " : "union ") + v.name;
      std::vector<std::string> decls;
      for (const tek::MemberValue& m : t.members) {
        auto bit = bit_types.find(m.typeix);
        if (bit != bit_types.end()) {
          decls.push_back(m.name + " : " + std::to_string(bit->second) + ";");
        } else {
          decls.push_back(m.name);
          ask("print/d (long)&((" + what + " *)0)->" + m.name,
              expect_in("= " + std::to_string(m.offset) + "\n"));
        }
      }
      ask("ptype " + what, [decls](const std::string& out) {
        for (const std::string& d : decls) EXPECT_TRUE(declares(out, d)) << d << "\n" << out;
      });
    }
    if (v.kind == tek::K_ENUM)
      for (const tek::MemberValue& m : t.members)
        ask("print (long)" + m.name, expect_in("= " + std::to_string(int32_t(m.value)) + "\n"));
  }
  for (const Records::Line& l : rec.lines)
    ask("info line *" + hex_addr(l.addr),
        expect_in("Line " + std::to_string(l.line) + " of \"" + l.file + "\" starts at address " +
                  hex_addr(l.addr)));
  for (const tek::PublicValue& p : rec.publics) {
    if (function_types.count(p.typeix)) {
      auto scope = std::find_if(rec.scopes.begin(), rec.scopes.end(),
                                [&](const Records::Scope& s) { return s.start == p.addr; });
      ASSERT_NE(scope, rec.scopes.end());
      std::vector<std::string> wants;
      for (const tek::SetLocalValue& l : scope->locals) {
        std::string want = "Symbol " + l.name + " is ";
        if (l.cls == 2) want += "in static storage at address " + hex_addr(l.offset);
        if (l.cls == 3) want += "a variable at frame base reg $";
        if (l.cls == 4) {
          EXPECT_EQ(int(l.offset),
                    tek::register_number(processor_code(GetParam().processor), GetParam().reg));
          want += "a variable in $" + lower(GetParam().reg);
        }
        wants.push_back(want);
        if (l.cls == 3) wants.push_back("offset 0+" + std::to_string(int32_t(l.offset)) + ",");
      }
      ask("info scope " + p.name, [wants](const std::string& out) {
        for (const std::string& w : wants)
          EXPECT_NE(out.find(w), std::string::npos) << w << "\n" << out;
      });
    } else {
      ask("info address " + p.name,
          expect_in("Symbol \"" + p.name + "\" is static storage at address " + hex_addr(p.addr) +
                    "."));
    }
  }
  ASSERT_GE(cmds.size(), 20u);
  std::vector<std::string> outs = gdb("prog.elf", cmds);
  for (size_t i = 0; i < cmds.size(); ++i) {
    SCOPED_TRACE(cmds[i]);
    checks[i](outs[i]);
  }
}

INSTANTIATE_TEST_SUITE_P(Families, ElfRoundTrip, ::testing::ValuesIn(FAMILIES),
                         [](const auto& info) { return std::string(info.param.processor); });

}  // namespace
