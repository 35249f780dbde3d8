#include "core/reader/companion.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <memory>

#include "core/reader/read_all.hpp"
#include "core/report.hpp"

namespace tek {

namespace {

// The text of a companion file, line by line.
struct LineReader {
  std::string_view text;
  size_t pos = 0;
};

// Reads the next non-empty line. CR and LF end lines; a last line without a line end is
// dropped. A 0 byte ends the line's text.
bool read_line(LineReader& f, std::string& line) {
  line.clear();
  bool cut = false;
  for (;;) {
    if (f.pos >= f.text.size()) return false;
    const char c = f.text[f.pos++];
    if (c == '\r' || c == '\n') {
      if (!line.empty() || cut) return true;
      continue;
    }
    if (c == '\0') cut = true;
    if (!cut) line.push_back(static_cast<char>(c));
  }
}

bool is_separator(char c) {
  return c == ' ' || c == ',' || c == ';';
}

// Splits an entry line into its first five fields. A separator ends exactly one field; a ';'
// also ends the entry line.
void split_fields(const std::string& line, std::string (&fields)[5]) {
  for (std::string& f : fields) f.clear();
  size_t field = 0;
  for (char c : line) {
    if (is_separator(c)) {
      ++field;
      if (c == ';') break;
      continue;
    }
    if (field < 5) fields[field].push_back(c);
  }
}

// strtol in base 10 on a 64-bit long (clamped on overflow), taken as unsigned 32-bit.
uint32_t entry_index(const std::string& field) {
  long v = std::strtol(field.c_str(), nullptr, 10);
  return static_cast<uint32_t>(static_cast<unsigned long>(v));
}

// A display name enclosed in double quotes loses them.
void unquote(std::string& s) {
  if (s.size() >= 2 && s.front() == '"' && s.back() == '"') {
    s.pop_back();
    s.erase(0, 1);
  }
}

}  // namespace

std::string companion_file_name(const std::string& source) {
  size_t cut = source.rfind('\\');
  if (cut == std::string::npos) cut = source.rfind('/');
  std::string part = cut == std::string::npos ? source : source.substr(cut + 1);
  size_t dot = part.rfind('.');
  if (dot != std::string::npos) part.erase(dot);
  return part + ".cpd";
}

void store_entry(CompanionTable& t, uint32_t index, CompanionEntry e) {
  unquote(e.s3);
  t.entries[index] = std::move(e);
  if (index > t.entry_count) t.entry_count = index;
}

// Indexes the lookups so that each answers as a scan of entries 1 to the entry count would:
// the first entry in index order wins.
void index_companion(CompanionTable& t) {
  t.rename.clear();
  t.cl_names.clear();
  t.bcl_names.clear();
  for (const auto& [index, e] : t.entries) {
    if (index == 0) continue;
    if (!e.s4.empty()) t.rename.emplace(e.s4, e.s3);
    if (e.s1 == "cl" && !e.s3.empty()) t.cl_names.insert(e.s3);
    if (e.s1 == "bcl" && !e.s4.empty()) t.bcl_names.insert(e.s4);
  }
}

std::optional<std::shared_ptr<const CompanionTable>> parse_companion(std::string_view text) {
  LineReader f{text};
  std::string line;
  if (!read_line(f, line) || line != "[HD]") return std::nullopt;
  auto table = std::make_shared<CompanionTable>();
  bool debug = false;
  while (!debug && read_line(f, line)) debug = line.find("[DEBUG]") != std::string::npos;
  if (debug) {
    std::string fields[5];
    while (read_line(f, line)) {
      split_fields(line, fields);
      store_entry(*table, entry_index(fields[0]), {fields[1], fields[2], fields[3], fields[4]});
    }
  }
  index_companion(*table);
  return table;
}

std::optional<std::string> read_regular_file(const std::string& path) {
  // Non-blocking, so that opening a FIFO does not wait for a writer; only a regular file is read.
  int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return std::nullopt;
  struct stat st;
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    return std::nullopt;
  }
  std::string text;
  read_to_end(fd, text);  // a read error ends the text where it stands
  ::close(fd);
  return text;
}

std::optional<std::shared_ptr<const CompanionTable>> read_companion_file(const std::string& path) {
  std::optional<std::string> text = read_regular_file(path);
  if (!text) return std::nullopt;
  return parse_companion(*text);
}

CompanionLookup directory_lookup(const std::string& dir) {
  return [dir](const std::string& name) -> std::optional<std::string> {
    return read_regular_file(dir.empty() ? name : dir + "/" + name);
  };
}

// A companion file is read once per pass: loading the same file again installs the same
// entries, so later loads reuse what the first one gave.
void load_companion(CompanionState& cs, bool h8, const Reporter& rep, const std::string& source) {
  if (!h8) return;
  std::string path = companion_file_name(source);
  auto it = cs.loaded.find(path);
  if (it == cs.loaded.end()) {
    std::optional<std::shared_ptr<const CompanionTable>> table;
    if (cs.lookup) {
      std::optional<std::string> text = cs.lookup(path);
      if (text) table = parse_companion(*text);
      if (!text)
        rep.problem(Severity::Warning,
                    "companion file '%s' of source file '%s' not found; its renames and class "
                    "marks are not applied",
                    path.c_str(), source.c_str());
      else if (!table)
        rep.problem(Severity::Warning,
                    "companion file '%s' does not begin with [HD]; it is not used", path.c_str());
    }
    it = cs.loaded.emplace(path, std::move(table)).first;
  }
  if (it->second) cs.table = *it->second;
}

}  // namespace tek
