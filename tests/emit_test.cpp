// The emit operations: the exact bytes of every context record on its stream in a conversion and
// its exact line in the dump (every kind and class name among them), the MEMBER layout picked by
// the last TYPE kind, names, and the undefined-kind stop. Then the whole symbol dump of a small
// program under each dump option, which shows the categories each option lists.
#include "core/emit.hpp"

#include <stdio.h>
#include <stdlib.h>

#include <array>
#include <functional>
#include <optional>

#include "core/errors.hpp"
#include "core/sinks/context_writer.hpp"
#include "core/sinks/dump_printer.hpp"
#include "emit_state.hpp"
#include "format/ctx/dump.hpp"
#include "format/teka/records.hpp"
#include "support.hpp"

using namespace tektest;
using tekrec::Builder;

namespace {

using tek::TypeValue;

class EmitTest : public TempDirTest {};

enum Stream { MAIN, TYPE, LOCAL };
using Streams = std::array<Bytes, 3>;
using Emit = std::function<void(EmitState&)>;

// What emit operations wrote to the three streams of a fresh output and printed, the stop that
// ended them (if any), and the diagnostics they reported.
struct Emitted {
  Streams streams;
  std::string printed;
  std::optional<tek::StopReason> stop;
  std::vector<tek::Diagnostic> diagnostics;
};

// The dump printer that switch_to_dump makes the sink of the running output.
tek::RecordSink* type_dump = nullptr;
// The streams of the running output.
tek::ContextStreams* streams_of_run = nullptr;

// Emit operations from here on print TYPE and MEMBER lines instead of writing records.
void switch_to_dump(EmitState& s) {
  s.out.sink = type_dump;
}

Emitted run(uint32_t dump_mask, const Emit& emit) {
  char* text = nullptr;
  size_t size = 0;
  FILE* console = ::open_memstream(&text, &size);
  Emitted e;
  {
    EmitState s;
    s.out.console = console;
    tek::ContextStreams streams;
    EXPECT_TRUE(tek::out_open(streams.main, "main.bin", false));
    EXPECT_TRUE(tek::out_open(streams.type, "type.bin", true));
    EXPECT_TRUE(tek::out_open(streams.local, "local.bin", true));
    tek::ContextWriter writer(streams, UINT64_MAX);
    tek::DumpPrinter printer(console, dump_mask, UINT64_MAX);
    tek::DumpPrinter types(console, 0x02, UINT64_MAX);
    type_dump = &types;
    streams_of_run = &streams;
    s.out.sink = dump_mask ? static_cast<tek::RecordSink*>(&printer) : &writer;
    try {
      emit(s);
    } catch (const tek::Stopped& stop) {
      e.stop = stop.reason;
    }
    e.diagnostics = s.diagnostics;
    // The streams are closed as they are, and not joined.
    for (tek::OutFile* f : {&streams.main, &streams.type, &streams.local})
      tek::out_close_quietly(*f);
  }
  std::fclose(console);
  e.printed.assign(text, size);
  std::free(text);
  e.streams = {file_bytes("main.bin"), file_bytes("type.bin"), file_bytes("local.bin")};
  return e;
}

void expect_streams(const Streams& actual, const Streams& expected) {
  for (int s : {MAIN, TYPE, LOCAL}) EXPECT_BYTES(actual[s], expected[s]) << "stream " << s;
}

// A TYPEDEF record, which the expected-record writer has no function for.
Bytes typedef_record(uint32_t selfix, uint32_t typeix, const std::string& name) {
  Bytes b = Ctx().pointer(21, selfix, typeix).bytes();
  b.push_back(static_cast<uint8_t>(name.size()));
  b.insert(b.end(), name.begin(), name.end());
  return b;
}

struct RecordCase {
  Emit emit;
  Stream stream;  // in a conversion
  Bytes bytes;
  std::string line;
};

const uint8_t DATA[256] = {0xDE, 0xAD, 0x01};

// An emit operation called with the given values.
template <class Op, class... Args>
Emit call(Op op, Args... args) {
  return [=](EmitState& s) { op(s.output, args...); };
}

std::vector<RecordCase> record_cases() {
  auto type = [](TypeValue v, Bytes bytes, std::string line) {
    return RecordCase{[v](EmitState& s) { tek::emit_type(s.output, s.reporter, v); }, TYPE, bytes,
                      line};
  };
  std::vector<RecordCase> cases = {
      {call(tek::emit_header, tek::HeaderValue{0x01020304, 0x0506, 0x0708090A, 0x0B0C}),
       MAIN,
       {0x00, 0x04, 0x03, 0x02, 0x01, 0x06, 0x05, 0x0A, 0x09, 0x08, 0x07, 0x0C, 0x0B},
       "\nHEADER:    ver=16909060, compiler=1286, compiler_ver=117967114, cpu=2828"},
      // The class name is padded to four characters.
      {call(tek::emit_public, tek::PublicValue{0xA0, 0x12345678, 1, 0x120, 2, "main"}), MAIN,
       Ctx().pub(0xA0, 0x12345678, 1, 0x120, 2, "main").bytes(),
       "\nPUBLIC:    mode=00a0,addr=12345678,class=EXT ,typeix=00000120,modix=00000002,"
       "name=[main]"},
      {call(tek::emit_start_local, 0x1000), LOCAL, Ctx().start_local(0x1000).bytes(),
       "\nSTARTLOCAL:addr=00001000"},
      {call(tek::emit_end_local, 0x10FF), LOCAL, Ctx().end_local(0x10FF).bytes(),
       "\nENDLOCAL:  addr=000010ff"},
      {call(tek::emit_set_local, tek::SetLocalValue{3, 0xFFFFFFFC, 0x106, "i"}),
       LOCAL,
       {0x04, 0x03, 0xFC, 0xFF, 0xFF, 0xFF, 0x06, 0x01, 0x00, 0x00, 0x01, 'i'},
       "\nSETLOCAL:  offset=fffffffc,class=AUTO,typeix=00000106,name=[i]"},
      // What follows the last slash.
      {call(tek::emit_file, "dir/sub\\x.c"), MAIN, Ctx().file("sub\\x.c").bytes(),
       "\nFILE:      [sub\\x.c]"},
      {call(tek::emit_end_line, 0x1234), MAIN, Ctx().end_line(0x1234).bytes(),
       "\nENDLINE:   mode=1234"},
      {call(tek::emit_line, 0xFFFFFFFF, 0x10), MAIN, Ctx().line(0xFFFFFFFF, 0x10).bytes(),
       "\nLINE:      line=-1    ,addr=00000010"},
      {call(tek::emit_object, 2, 0x1000, 3, DATA),
       MAIN,
       {0x0B, 0x02, 0x00, 0x00, 0x10, 0x00, 0x00, 0x03, 0x00, 0xDE, 0xAD, 0x01},
       line::object(0x1000, 3)},
      {call(tek::emit_object, 2, 0, 0, DATA), MAIN, Ctx().object(0, {}).bytes(),
       "\nObject : 00000000 - ffffffff"},
      {call(tek::emit_module, 1, "prog"), MAIN, Ctx().module(1, "prog").bytes(),
       line::module(1, "prog")},
      {call(tek::emit_addr_flag, 0x8010, 1), MAIN, Ctx().addr_flag(0x8010, 1).bytes(),
       "\nADDRFLAG:    addr=00008010,flag=00000001"},
      type({.kind = 13, .selfix = 0x120, .size = 8, .count = 2, .name = "abc"},
           {0x09, 0x0D, 0x20, 0x01, 0x00, 0x00, 0x08, 0x00, 0x00, 0x00, 0x02, 0x00, 0x00, 0x00,
            0x03, 'a', 'b', 'c'},
           "\nTYPE:      type=0x0d:STRUCT    ,selfix=00000120,size=00000008,count=0002,name=[abc]"),
      type({.kind = 15, .selfix = 0x121, .count = 3, .name = "col"},
           {0x09, 0x0F, 0x21, 0x01, 0x00, 0x00, 0x03, 0x00, 0x00, 0x00, 0x03, 'c', 'o', 'l'},
           "\nTYPE:      type=0x0f:ENUM      ,selfix=00000121,name=[col]"),
      type({.kind = 16, .selfix = 0x122, .retix = 0x106, .argc = 0x0102, .name = ""},
           {0x09, 0x10, 0x22, 0x01, 0x00, 0x00, 0x06, 0x01, 0x00, 0x00, 0x02, 0x01},
           "\nTYPE:      type=0x10:FUNCTION  ,selfix=00000122,retix=00000106 ,argc=0102"),
      type({.kind = 22, .selfix = 0x122, .retix = 0x101, .name = ""},
           Ctx().function(22, 0x122, 0x101, 0).bytes(), line::func(0x122, 0x101, 0, true)),
      type({.kind = 19, .selfix = 0x123, .typeix = 0x102, .limit = 10, .name = ""},
           Ctx().array(0x123, 0x102, 10).bytes(), line::arr(0x123, 0x102, 10)),
      type({.kind = 21, .selfix = 0x124, .typeix = 0x106, .name = "uint"},
           typedef_record(0x124, 0x106, "uint"), line::tdef(0x124, 0x106, "uint")),
      type({.kind = 27, .selfix = 0x125, .size = 3, .sign = 1, .offs = 5, .name = ""},
           Ctx().bit(0x125, 1, 3, 5).bytes(), line::bit(0x125, 1, 3, 5)),
  };
  // The basic kinds: the common part alone.
  for (uint8_t kind = 1; kind <= 12; ++kind)
    cases.push_back(type({.kind = kind, .selfix = 0x102, .name = ""},
                         Ctx().type(kind, 0x102).bytes(), line::type(kind, 0x102)));
  // The other aggregate kinds, with a count above 0xFFFF.
  for (uint8_t kind : {14, 20, 28})
    cases.push_back(type({.kind = kind, .selfix = 0x127, .size = 4, .count = 0x12345, .name = "u"},
                         Ctx().aggregate(kind, 0x127, 4, 0x12345, "u").bytes(),
                         line::agg(kind, 0x127, 4, 0x12345, "u")));
  for (uint8_t kind : {17, 18, 23, 24, 25, 26})
    cases.push_back(type({.kind = kind, .selfix = 0x126, .typeix = 0x103, .name = ""},
                         Ctx().pointer(kind, 0x126, 0x103).bytes(), line::ptr(kind, 0x126, 0x103)));
  // Every class name, padded to four characters.
  for (const auto& [cls, name] : std::initializer_list<std::pair<uint8_t, const char*>>{
           {0, "CONST"}, {2, "STAT"}, {3, "AUTO"}, {4, "REG"}, {6, "MOD"}, {7, "NONE"}, {8, "REF"}})
    cases.push_back({call(tek::emit_set_local, tek::SetLocalValue{cls, 4, 0x106, "v"}), LOCAL,
                     Ctx().set_local(cls, 4, 0x106, "v").bytes(), line::setl(4, name, 0x106, "v")});
  return cases;
}

TEST_F(EmitTest, EveryRecordWrittenInAConversionAndPrintedInTheDump) {
  for (const RecordCase& c : record_cases()) {
    SCOPED_TRACE(c.line);
    Streams expected;
    expected[c.stream] = c.bytes;
    Emitted converted = run(0, c.emit);
    expect_streams(converted.streams, expected);
    EXPECT_EQ(converted.printed, "");
    Emitted dumped = run(0xFFFFFFFF, c.emit);
    expect_streams(dumped.streams, {});
    EXPECT_EQ(dumped.printed, c.line);
  }
}

// The layout of a MEMBER record is chosen by the kind of the latest TYPE record, in a conversion
// and in the dump alike.
TEST_F(EmitTest, MemberLayoutFollowsTheLastTypeKind) {
  struct Case {
    uint32_t kind;  // 0: no TYPE record before the MEMBER
    Bytes member;
    std::string line;
  };
  std::vector<Case> cases = {
      {15, Ctx().constant(7, "y").bytes(), "\nMEMBER:value=00000007,name=[y]"},
      {20,
       {0x0A, 0x06, 0x01, 0, 0, 3, 0, 0, 0, 5, 0, 0, 0, 1, 'y'},
       "\nMEMBER:typeix=00000106,bitoffs=0003,bitsize=0005,name=[y]"},
  };
  for (uint32_t kind : {13u, 14u, 28u})
    cases.push_back({kind, Ctx().member(0x106, 4, "y").bytes(),
                     "\nMEMBER:typeix=00000106,offset=0004,name=[y]"});
  for (uint32_t kind : {0u, 1u, 12u, 16u, 17u, 19u, 21u, 22u, 27u})
    cases.push_back({kind, {0x0A}, "\nMEMBER:"});
  for (const Case& c : cases) {
    SCOPED_TRACE(c.kind);
    size_t written = 0;
    // The kind stays until the next TYPE record: a MEMBER in a conversion, then in the dump.
    Emitted e = run(0, [&](EmitState& s) {
      if (c.kind != 0)
        tek::emit_type(s.output, s.reporter, {.kind = c.kind, .selfix = 0x300, .name = ""});
      written = streams_of_run->type.written;
      tek::emit_member(s.output, {0x106, 4, 7, 3, 5, "y"});
      switch_to_dump(s);
      tek::emit_member(s.output, {0x106, 4, 7, 3, 5, "y"});
    });
    const Bytes& types = e.streams[TYPE];
    EXPECT_BYTES(Bytes(types.begin() + static_cast<long>(written), types.end()), c.member);
    EXPECT_EQ(e.printed, c.line);
  }
}

// Records whose names go through each layout that carries one, and the FILE record, which
// prints its name in a format of its own.
void emit_named(EmitState& s, const std::string& name) {
  tek::emit_public(s.output, {0, 0x10, 1, 0x120, 1, name});
  tek::emit_file(s.output, name.c_str());
  tek::emit_type(s.output, s.reporter, {.kind = 13, .selfix = 0x120, .name = name});
  tek::emit_member(s.output, {.typeix = 0x106, .name = name});
  tek::emit_type(s.output, s.reporter,
                 {.kind = 21, .selfix = 0x122, .typeix = 0x106, .name = name});
}

TEST_F(EmitTest, NamesAreCutAt255BytesAndAtAZeroByte) {
  const std::string longest(255, 'n');
  for (const auto& [given, s] : {std::pair{longest + "xyz", longest},
                                 std::pair{std::string("ab\0cd", 5), std::string("ab")}}) {
    const Emit emit = [given = given](EmitState& s) { emit_named(s, given); };
    Bytes types = Ctx().aggregate(13, 0x120, 0, 0, s).member(0x106, 0, s).bytes();
    Bytes td = typedef_record(0x122, 0x106, s);
    types.insert(types.end(), td.begin(), td.end());
    expect_streams(run(0, emit).streams,
                   {Ctx().pub(0, 0x10, 1, 0x120, 1, s).file(s).bytes(), types});
    EXPECT_EQ(run(0xFFFFFFFF, emit).printed,
              line::pub(0x10, 0x120, s) + line::file(s) + line::agg(13, 0x120, 0, 0, s) +
                  line::mem(0x106, 0, s) + line::tdef(0x122, 0x106, s));
  }
  // The dump prints a name cut to its length.
  const Emit print = [](EmitState& s) {
    tek::print_name(s.out.console, std::string_view("abcdef", 3));
    tek::print_name(s.out.console, "");
  };
  EXPECT_EQ(run(0xFFFFFFFF, print).printed, "[abc][]");
}

// The TYPE record of an undefined kind is handed on, reported at the record being read, and then
// stops the run with the undefined-type stop (which the top of the run turns into
// "\nUndefined type" and status 1).
TEST_F(EmitTest, UndefinedKindStopsAfterTheCommonPart) {
  for (uint32_t kind : {0u, 29u, 255u}) {
    for (uint32_t mask : {0u, 0x02u, 0x04u}) {
      SCOPED_TRACE(testing::Message() << "kind " << kind << ", mask " << mask);
      Emitted e = run(mask, [kind](EmitState& s) {
        tek::emit_header(s.output, {118, 6, 0, 0});
        s.rd.set_place({0x1234, tek::teka::DPT});
        tek::emit_type(s.output, s.reporter,
                       {.kind = kind, .selfix = 0x140, .typeix = 0x106, .name = "x"});
        ADD_FAILURE() << "the run goes on after the undefined kind";
      });
      EXPECT_EQ(e.stop, tek::STOP_UNDEFINED_TYPE);
      ASSERT_EQ(e.diagnostics.size(), 1u);
      const tek::Diagnostic& d = e.diagnostics[0];
      EXPECT_EQ(d.severity, tek::Severity::Error);
      EXPECT_TRUE(d.located);
      EXPECT_EQ(d.offset, 0x1234u);
      EXPECT_EQ(d.record, tek::teka::DPT);
      EXPECT_EQ(d.text, line::fmt("DPT record: the TYPE record made here has the undefined kind "
                                  "%u; the run stops",
                                  kind));
      const std::string head = mask ? line::header() : "";
      if (mask == 0x02) {
        // The kind has no name of its own; what stands for it is left open.
        const std::string begin = head + line::fmt("\nTYPE:      type=0x%02x:", kind);
        const std::string end = ",selfix=00000140";
        ASSERT_GE(e.printed.size(), begin.size() + end.size());
        EXPECT_EQ(e.printed.substr(0, begin.size()), begin);
        EXPECT_EQ(e.printed.substr(e.printed.size() - end.size()), end);
      } else {
        EXPECT_EQ(e.printed, head);
      }
      // The run ends here: what was written stays in the streams, which are not joined.
      expect_streams(e.streams, mask != 0
                                    ? Streams{}
                                    : Streams{Ctx().header().bytes(),
                                              Ctx().type(static_cast<uint8_t>(kind), 0x140).bytes(),
                                              {}});
    }
  }
}

// ---------------------------------------------------------------------------------------------
// The symbol dump

class DumpTest : public TempDirTest {};

// An ARM unit with two sections, three image bytes, an address flag, a function f of 4 bytes
// with a local variable i, and two source lines.
TEST_F(DumpTest, WholeDumpsOfASmallProgram) {
  Builder b;
  b.hdr().unit("m", "ARM", 2, 0x04).cl(0x1000, "P").cl(0x8000, "Q").sect(0, 0).data({1, 2, 3});
  b.aflag(1, 0x10, 2).dbgunit(0x01, 0).basetype(1, 3, 4, 0);
  b.symbol(sym(tekrec::FUNCTION, "f", tekrec::basic_type(1), tekrec::in_section(2, 0, 0, 4), 0x21))
      .symbol(sym(tekrec::VARIABLE, "i", tekrec::basic_type(1), tekrec::in_frame(8)))
      .blkend(0x40);
  b.srcfiles({{"src/", "a.c"}}).curfile(0).locate(0).lines({{5, 0}, {6, 2}}).end();
  b.write("in.abs");
  const std::string head = line::header() + line::addr_flag(0x8010, 0);
  const std::string types = line::func(FIRST_SELFIX, T_INT, 0);
  const std::string publics = line::pub(0x1000, FIRST_SELFIX, "f");
  const std::string setlocals = line::setl(8, "AUTO", T_INT, "i");
  const std::string lines = line::line(5, 0x1000) + line::line(6, 0x1002) + line::endline();
  const std::string files = line::file("a.c") + lines;
  const struct {
    std::vector<std::string> options;
    std::string out;
  } cases[] = {
      {{"-s"},
       predefined_dump() + line::header() + line::module(1, "m") + line::object(0x1000, 3) +
           line::addr_flag(0x8010, 0) + publics + types + line::startl(0x1000) + setlocals +
           line::endl(0x1003) + files},
      {{"-sf"}, head + files},
      {{"-st"}, predefined_dump() + head + types},
      {{"-sg"}, head + publics},
      {{"-ss"}, head + line::startl(0x1000) + line::endl(0x1003)},
      {{"-sl"}, head + setlocals},
      {{"-s", "-sf"}, head + files},
      {{"-sf", "-st"}, predefined_dump() + head + types},
      {{"-sf", "-fullpath"}, head + line::file("src/a.c") + lines},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.options));
    std::vector<std::string> args = c.options;
    args.push_back("in.abs");
    RunResult r = run_tekconv(args);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.body(), c.out);
    EXPECT_EQ(dir_entries(), std::vector<std::string>{"in.abs"});
  }
}

}  // namespace
