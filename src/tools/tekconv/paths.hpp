// Path helpers: output file names, the file name part of a source path, same-file tests.
#pragma once

#include <string>

namespace tek {

// The file name part of a path: after its last '/', else after its last '\', else the whole.
void base_name(const char* path, std::string& out);

// Replaces everything from the last '.' of the whole path by ext, or appends ext.
std::string replace_extension(const std::string& path, const char* ext);

// True when both paths are equal as given, or name the same existing file.
bool same_file(const std::string& a, const std::string& b);

// Deletes a file by name; never a directory. Fails quietly.
void delete_file(const std::string& name);

}  // namespace tek
