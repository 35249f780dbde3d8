// The help and version texts of the tekconv command.
#pragma once

#include <cstdio>

namespace tek {

// Every option, the run modes and the exit statuses, on one screen.
void print_help(FILE* out);
// The converter's name and version, and the version of the context format it writes.
void print_version(FILE* out);

}  // namespace tek
