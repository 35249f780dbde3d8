#include "tools/tekconv/paths.hpp"

#include <sys/stat.h>
#include <unistd.h>

#include <cstring>

namespace tek {

void base_name(const char* path, std::string& out) {
  const char* slash = std::strrchr(path, '/');
  if (slash) {
    out = slash + 1;
    return;
  }
  const char* backslash = std::strrchr(path, '\\');
  out = backslash ? backslash + 1 : path;
}

std::string replace_extension(const std::string& path, const char* ext) {
  size_t dot = path.rfind('.');
  std::string name = dot == std::string::npos ? path : path.substr(0, dot);
  return name + ext;
}

bool same_file(const std::string& a, const std::string& b) {
  if (a == b) return true;
  struct stat sa, sb;
  if (::stat(a.c_str(), &sa) != 0 || ::stat(b.c_str(), &sb) != 0) return false;
  return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

void delete_file(const std::string& name) {
  if (!name.empty()) ::unlink(name.c_str());  // unlink() never removes a directory
}

}  // namespace tek
