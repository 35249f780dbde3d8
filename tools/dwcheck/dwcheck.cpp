#include "dwcheck/dwcheck.hpp"

#include <dwarf.h>
#include <elfutils/libdw.h>
#include <gelf.h>
#include <libelf.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <set>
#include <utility>

namespace dwcheck {

namespace {

// Problems of one kind beyond this many are counted, not listed.
constexpr size_t MAX_PER_KIND = 20;

std::string hex(uint64_t v) {
  char buf[24];
  std::snprintf(buf, sizeof buf, "0x%llx", static_cast<unsigned long long>(v));
  return buf;
}

std::string tag_name(int tag) {
  switch (tag) {
    case DW_TAG_compile_unit:
      return "compile_unit";
    case DW_TAG_base_type:
      return "base_type";
    case DW_TAG_pointer_type:
      return "pointer_type";
    case DW_TAG_array_type:
      return "array_type";
    case DW_TAG_subrange_type:
      return "subrange_type";
    case DW_TAG_structure_type:
      return "structure_type";
    case DW_TAG_union_type:
      return "union_type";
    case DW_TAG_class_type:
      return "class_type";
    case DW_TAG_enumeration_type:
      return "enumeration_type";
    case DW_TAG_enumerator:
      return "enumerator";
    case DW_TAG_member:
      return "member";
    case DW_TAG_typedef:
      return "typedef";
    case DW_TAG_subroutine_type:
      return "subroutine_type";
    case DW_TAG_subprogram:
      return "subprogram";
    case DW_TAG_formal_parameter:
      return "formal_parameter";
    case DW_TAG_unspecified_parameters:
      return "unspecified_parameters";
    case DW_TAG_variable:
      return "variable";
    case DW_TAG_const_type:
      return "const_type";
    case DW_TAG_volatile_type:
      return "volatile_type";
    default:
      return "tag " + hex(static_cast<uint64_t>(tag));
  }
}

bool breaks_cycles(int tag) {
  return tag == DW_TAG_structure_type || tag == DW_TAG_union_type ||
         tag == DW_TAG_enumeration_type || tag == DW_TAG_class_type;
}

bool is_reference_form(unsigned form) {
  switch (form) {
    case DW_FORM_ref1:
    case DW_FORM_ref2:
    case DW_FORM_ref4:
    case DW_FORM_ref8:
    case DW_FORM_ref_udata:
    case DW_FORM_ref_addr:
    case DW_FORM_ref_sig8:
    case DW_FORM_GNU_ref_alt:
    case DW_FORM_ref_sup4:
    case DW_FORM_ref_sup8:
      return true;
    default:
      return false;
  }
}

struct Die {
  int tag = 0;
  uint64_t type = UINT64_MAX;  // DW_AT_type target
  uint64_t parent = UINT64_MAX;
};

class Checker {
 public:
  explicit Checker(Report& r) : r_(r) {}

  void run(std::span<const uint8_t> bytes);

 private:
  void problem(const std::string& kind, const std::string& text) {
    if (++counts_[kind] <= MAX_PER_KIND) r_.problems.push_back(text);
  }
  void libdw_problem(const std::string& where) {
    problem("libdw", where + ": " + dwarf_errmsg(-1));
  }
  void unit(Dwarf* dbg, Dwarf_Off offset, size_t header_size, Dwarf_Half version);
  void die(Dwarf_Die* d, uint64_t parent);
  void attribute(Dwarf_Attribute* a);
  void lines(Dwarf_Die* cu);
  void references();
  void type_cycles();
  void cycles(const std::map<uint64_t, std::vector<uint64_t>>& edges, bool (*stop)(int tag),
              const std::string& what);

  static int attribute_cb(Dwarf_Attribute* a, void* self) {
    static_cast<Checker*>(self)->attribute(a);
    return DWARF_CB_OK;
  }

  Report& r_;
  std::map<std::string, size_t> counts_;
  uint64_t info_size_ = 0;
  std::map<uint64_t, Die> dies_;
  std::vector<std::pair<uint64_t, uint64_t>> refs_;  // (from DIE, to offset)
  uint64_t current_ = 0;                             // the DIE whose attributes are read
  int current_tag_ = 0;
};

void Checker::run(std::span<const uint8_t> bytes) {
  elf_version(EV_CURRENT);
  // libelf wants a writable buffer, and libdw keeps pointers into it while the handle lives.
  std::vector<char> copy(bytes.begin(), bytes.end());
  Elf* elf = elf_memory(copy.data(), copy.size());
  if (!elf) {
    problem("elf", std::string("elf_memory: ") + elf_errmsg(-1));
    return;
  }
  size_t shstrndx = 0, sections = 0;
  bool has_info = false;
  if (elf_getshdrnum(elf, &sections) != 0)
    problem("elf", std::string("elf_getshdrnum: ") + elf_errmsg(-1));
  for (Elf_Scn* scn = elf_nextscn(elf, nullptr); scn; scn = elf_nextscn(elf, scn)) {
    GElf_Shdr shdr;
    if (!gelf_getshdr(scn, &shdr)) {
      problem("elf", std::string("gelf_getshdr: ") + elf_errmsg(-1));
      break;
    }
    if (shdr.sh_type != SHT_NOBITS && shdr.sh_offset + shdr.sh_size > bytes.size())
      problem("elf",
              "section " + std::to_string(elf_ndxscn(scn)) + " lies past the end of the file");
  }
  if (elf_getshdrstrndx(elf, &shstrndx) != 0) {
    problem("elf", std::string("elf_getshdrstrndx: ") + elf_errmsg(-1));
  } else {
    for (Elf_Scn* scn = elf_nextscn(elf, nullptr); scn; scn = elf_nextscn(elf, scn)) {
      GElf_Shdr shdr;
      if (!gelf_getshdr(scn, &shdr)) continue;
      const char* name = elf_strptr(elf, shstrndx, shdr.sh_name);
      if (name && std::strcmp(name, ".debug_info") == 0) {
        has_info = true;
        info_size_ = shdr.sh_size;
      }
    }
  }
  if (!has_info) {
    elf_end(elf);
    return;
  }
  Dwarf* dbg = dwarf_begin_elf(elf, DWARF_C_READ, nullptr);
  if (!dbg) {
    libdw_problem("dwarf_begin_elf");
    elf_end(elf);
    return;
  }
  Dwarf_Off offset = 0, next = 0;
  size_t header_size = 0;
  Dwarf_Half version = 0;
  int rc;
  while ((rc = dwarf_next_unit(dbg, offset, &next, &header_size, &version, nullptr, nullptr,
                               nullptr, nullptr, nullptr)) == 0) {
    unit(dbg, offset, header_size, version);
    offset = next;
  }
  if (rc < 0) libdw_problem("dwarf_next_unit at " + hex(offset));

  Dwarf_Aranges* aranges = nullptr;
  size_t count = 0;
  if (dwarf_getaranges(dbg, &aranges, &count) != 0) {
    libdw_problem("dwarf_getaranges");
  } else {
    for (size_t i = 0; i < count; ++i) {
      Dwarf_Addr addr;
      Dwarf_Word length;
      Dwarf_Off cu;
      Dwarf_Arange* a = dwarf_onearange(aranges, i);
      if (!a || dwarf_getarangeinfo(a, &addr, &length, &cu) != 0) {
        libdw_problem("dwarf_getarangeinfo");
        continue;
      }
      if (!dies_.count(cu))
        problem("aranges", "address range " + hex(addr) + "+" + hex(length) +
                               " names the unit at " + hex(cu) + ", which is no unit");
    }
  }
  references();
  type_cycles();
  dwarf_end(dbg);
  elf_end(elf);
}

void Checker::unit(Dwarf* dbg, Dwarf_Off offset, size_t header_size, Dwarf_Half version) {
  ++r_.units;
  if (version < 2 || version > 5)
    problem("version", "unit at " + hex(offset) + ": DWARF version " + std::to_string(version));
  Dwarf_Die cu;
  if (!dwarf_offdie(dbg, offset + header_size, &cu)) {
    libdw_problem("unit at " + hex(offset) + ": dwarf_offdie");
    return;
  }
  // The DIE tree, depth first, without recursion: a deep or looping tree cannot overflow.
  std::vector<std::pair<Dwarf_Die, uint64_t>> stack = {{cu, UINT64_MAX}};
  while (!stack.empty()) {
    auto [d, parent] = stack.back();
    stack.pop_back();
    die(&d, parent);
    Dwarf_Die child;
    const int has = dwarf_child(&d, &child);  // 0: a first child, 1: none
    if (has < 0) {
      libdw_problem("DIE " + hex(dwarf_dieoffset(&d)) + ": dwarf_child");
      continue;
    }
    if (has == 0) {
      std::vector<Dwarf_Die> children;
      int more = 0;
      do {
        children.push_back(child);
        if (children.size() > 10000000) break;
      } while ((more = dwarf_siblingof(&child, &child)) == 0);
      if (more < 0) libdw_problem("DIE " + hex(dwarf_dieoffset(&d)) + ": dwarf_siblingof");
      const uint64_t self = dwarf_dieoffset(&d);
      for (auto it = children.rbegin(); it != children.rend(); ++it) stack.push_back({*it, self});
    }
  }
  if (dwarf_hasattr(&cu, DW_AT_stmt_list)) lines(&cu);
  if (dwarf_hasattr(&cu, DW_AT_ranges) || dwarf_hasattr(&cu, DW_AT_low_pc)) {
    Dwarf_Addr base, start, end;
    ptrdiff_t off = 0;
    while ((off = dwarf_ranges(&cu, off, &base, &start, &end)) > 0) {
      if (end < start)
        problem("ranges", "unit at " + hex(offset) + ": range " + hex(start) + ".." + hex(end) +
                              " ends before it starts");
    }
    if (off < 0) libdw_problem("unit at " + hex(offset) + ": dwarf_ranges");
  }
}

void Checker::die(Dwarf_Die* d, uint64_t parent) {
  ++r_.dies;
  current_ = dwarf_dieoffset(d);
  current_tag_ = dwarf_tag(d);
  if (current_tag_ < 0) libdw_problem("DIE " + hex(current_) + ": dwarf_tag");
  dies_[current_] = {current_tag_, UINT64_MAX, parent};
  if (dwarf_getattrs(d, attribute_cb, this, 0) != 1)
    libdw_problem("DIE " + hex(current_) + ": dwarf_getattrs");

  const char* name = dwarf_diename(d);
  const bool named = name && *name;
  const bool top = parent != UINT64_MAX && dies_[parent].tag == DW_TAG_compile_unit;
  switch (current_tag_) {
    case DW_TAG_structure_type:
      if (named) r_.types.push_back({"struct", name});
      break;
    case DW_TAG_union_type:
      if (named) r_.types.push_back({"union", name});
      break;
    case DW_TAG_enumeration_type:
      if (named) r_.types.push_back({"enum", name});
      break;
    case DW_TAG_base_type:
    case DW_TAG_typedef:
    case DW_TAG_class_type:
      if (named) r_.types.push_back({"", name});
      break;
    case DW_TAG_subprogram:
      if (named) r_.functions.push_back(name);
      if (dwarf_hasattr(d, DW_AT_low_pc) && dwarf_hasattr(d, DW_AT_high_pc)) {
        Dwarf_Addr low, high;
        if (dwarf_lowpc(d, &low) != 0 || dwarf_highpc(d, &high) != 0)
          libdw_problem("subprogram " + hex(current_) + ": dwarf_lowpc/highpc");
        else if (high < low)
          problem("pc", "subprogram " + hex(current_) + ": high_pc " + hex(high) +
                            " below low_pc " + hex(low));
      }
      break;
    case DW_TAG_variable:
      if (named && top) r_.variables.push_back(name);
      break;
    default:
      break;
  }
}

void Checker::attribute(Dwarf_Attribute* a) {
  ++r_.attributes;
  const unsigned form = dwarf_whatform(a);
  const unsigned at = dwarf_whatattr(a);
  const std::string where = "DIE " + hex(current_) + " (" + tag_name(current_tag_) +
                            ") attribute " + hex(at) + " form " + hex(form);
  bool ok = true;
  if (is_reference_form(form)) {
    Dwarf_Die target;
    if (!dwarf_formref_die(a, &target)) {
      libdw_problem(where + ": dwarf_formref_die");
      return;
    }
    const uint64_t to = dwarf_dieoffset(&target);
    refs_.push_back({current_, to});
    if (at == DW_AT_type) dies_[current_].type = to;
    return;
  }
  switch (form) {
    case DW_FORM_addr: {
      Dwarf_Addr v;
      ok = dwarf_formaddr(a, &v) == 0;
      break;
    }
    case DW_FORM_data1:
    case DW_FORM_data2:
    case DW_FORM_data4:
    case DW_FORM_data8:
    case DW_FORM_udata:
    case DW_FORM_sec_offset: {
      Dwarf_Word v;
      ok = dwarf_formudata(a, &v) == 0;
      break;
    }
    case DW_FORM_sdata:
    case DW_FORM_implicit_const: {
      Dwarf_Sword v;
      ok = dwarf_formsdata(a, &v) == 0;
      break;
    }
    case DW_FORM_string:
    case DW_FORM_strp:
    case DW_FORM_line_strp:
    case DW_FORM_strx:
    case DW_FORM_strx1:
    case DW_FORM_strx2:
    case DW_FORM_strx4:
      ok = dwarf_formstring(a) != nullptr;
      break;
    case DW_FORM_flag:
    case DW_FORM_flag_present: {
      bool v;
      ok = dwarf_formflag(a, &v) == 0;
      break;
    }
    case DW_FORM_block1:
    case DW_FORM_block2:
    case DW_FORM_block4:
    case DW_FORM_block:
    case DW_FORM_exprloc: {
      Dwarf_Block v;
      ok = dwarf_formblock(a, &v) == 0;
      break;
    }
    default:
      problem("form", where + ": a form this checker does not know");
      return;
  }
  if (!ok) {
    libdw_problem(where);
    return;
  }
  if (at == DW_AT_location || at == DW_AT_frame_base || at == DW_AT_data_member_location) {
    if (form == DW_FORM_exprloc || form == DW_FORM_block1 || form == DW_FORM_block ||
        form == DW_FORM_block2 || form == DW_FORM_block4) {
      Dwarf_Op* ops;
      size_t n;
      if (dwarf_getlocation(a, &ops, &n) != 0) libdw_problem(where + ": dwarf_getlocation");
    }
  }
}

void Checker::lines(Dwarf_Die* cu) {
  const uint64_t at = dwarf_dieoffset(cu);
  Dwarf_Lines* lines;
  size_t count;
  if (dwarf_getsrclines(cu, &lines, &count) != 0) {
    libdw_problem("unit " + hex(at) + ": dwarf_getsrclines");
    return;
  }
  Dwarf_Files* files;
  size_t file_count;
  if (dwarf_getsrcfiles(cu, &files, &file_count) != 0) {
    libdw_problem("unit " + hex(at) + ": dwarf_getsrcfiles");
    return;
  }
  for (size_t i = 0; i < count; ++i) {
    ++r_.line_rows;
    Dwarf_Line* line = dwarf_onesrcline(lines, i);
    Dwarf_Addr addr = 0;
    int number = 0;
    if (!line || dwarf_lineaddr(line, &addr) != 0 || dwarf_lineno(line, &number) != 0) {
      libdw_problem("unit " + hex(at) + ": line row " + std::to_string(i));
      continue;
    }
    const std::string row = "unit " + hex(at) + ": the line row at " + hex(addr) + " (line " +
                            std::to_string(number) + ")";
    // libdw refuses the file of a row whose index is past the file table.
    Dwarf_Files* line_files;
    size_t index;
    if (dwarf_line_file(line, &line_files, &index) != 0) {
      problem("line file", row + " names no file of the file table of " +
                               std::to_string(file_count) + " (libdw: " + dwarf_errmsg(-1) + ")");
      continue;
    }
    if (index >= file_count || !dwarf_linesrc(line, nullptr, nullptr))
      problem("line file", row + " names file " + std::to_string(index) + " of a file table of " +
                               std::to_string(file_count));
  }
}

void Checker::references() {
  for (const auto& [from, to] : refs_) {
    if (to >= info_size_)
      problem("reference", "DIE " + hex(from) + " refers to " + hex(to) +
                               ", outside .debug_info (" + hex(info_size_) + " bytes)");
    else if (!dies_.count(to))
      problem("reference", "DIE " + hex(from) + " refers to " + hex(to) + ", where no DIE begins");
  }
}

using Edges = std::map<uint64_t, std::vector<uint64_t>>;

// Reports each cycle of the graph once. The walk does not leave a node that stop() accepts, so
// a cycle through such a node is no cycle.
void Checker::cycles(const Edges& edges, bool (*stop)(int tag), const std::string& what) {
  auto tag_of = [&](uint64_t off) {
    const auto d = dies_.find(off);
    return d == dies_.end() ? 0 : d->second.tag;
  };
  enum Color { WHITE, GREY, BLACK };
  std::map<uint64_t, Color> color;
  std::set<uint64_t> reported;
  for (const auto& [start, unused] : edges) {
    if (color[start] != WHITE) continue;
    // Iterative depth-first search; the path is the stack of (node, next edge index).
    std::vector<std::pair<uint64_t, size_t>> path = {{start, 0}};
    color[start] = GREY;
    while (!path.empty()) {
      auto& [node, next] = path.back();
      const auto it = edges.find(node);
      if (stop(tag_of(node)) || it == edges.end() || next >= it->second.size()) {
        color[node] = BLACK;
        path.pop_back();
        continue;
      }
      const uint64_t to = it->second[next++];
      if (color[to] == GREY && !stop(tag_of(to))) {
        if (reported.insert(to).second) {
          std::string text = what + ": ";
          size_t i = 0;
          while (i < path.size() && path[i].first != to) ++i;
          for (; i < path.size(); ++i)
            text += hex(path[i].first) + " " + tag_name(tag_of(path[i].first)) + " -> ";
          problem(what, text + hex(to));
        }
      } else if (color[to] == WHITE) {
        color[to] = GREY;
        path.push_back({to, 0});
      }
    }
  }
}

bool is_reference_type(int tag) {
  return tag == DW_TAG_pointer_type || tag == DW_TAG_reference_type ||
         tag == DW_TAG_rvalue_reference_type || tag == DW_TAG_ptr_to_member_type ||
         tag == DW_TAG_subroutine_type;
}

// Two graphs of types. Following DW_AT_type (and, for a subroutine type, the types of its
// parameters) must come to an end or pass a structure, union, enumeration or class: a reader
// that names a type follows these links. And no structure, union or class may contain itself
// by value (through its members, arrays, typedefs and qualifiers, not through a pointer): its
// size would be infinite, and a reader that lays it out never finishes.
void Checker::type_cycles() {
  Edges chain, layout;
  for (const auto& [off, d] : dies_) {
    if (d.type == UINT64_MAX) continue;
    const int parent = d.parent == UINT64_MAX ? 0 : dies_[d.parent].tag;
    if (d.tag == DW_TAG_formal_parameter && parent == DW_TAG_subroutine_type)
      chain[d.parent].push_back(d.type);
    else
      chain[off].push_back(d.type);
    if (d.tag == DW_TAG_member && (parent == DW_TAG_structure_type || parent == DW_TAG_union_type ||
                                   parent == DW_TAG_class_type))
      layout[d.parent].push_back(d.type);
    else if (d.tag == DW_TAG_array_type || d.tag == DW_TAG_typedef || d.tag == DW_TAG_const_type ||
             d.tag == DW_TAG_volatile_type)
      layout[off].push_back(d.type);
  }
  cycles(chain, breaks_cycles, "type cycle through no structure, union or enumeration");
  cycles(layout, is_reference_type, "type that contains itself by value");
}

}  // namespace

Report check(std::span<const uint8_t> elf) {
  Report r;
  Checker(r).run(elf);
  return r;
}

Report check_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    Report r;
    r.problems.push_back("cannot read " + path);
    return r;
  }
  const std::vector<uint8_t> bytes{std::istreambuf_iterator<char>(in),
                                   std::istreambuf_iterator<char>()};
  return check(bytes);
}

std::vector<std::string> problems(std::span<const uint8_t> elf) {
  return check(elf).problems;
}

}  // namespace dwcheck
