#include "tools/tekconv/usage.hpp"

#include "tekconv/tekconv.hpp"

namespace tek {

void print_help(FILE* out) {
  std::fputs(
      "Usage: tekconv [option...] input_file      convert into a context file\n"
      "       tekconv -s|-sf|-st|-sg|-ss|-sl [option...] input_file   list the records\n"
      "       tekconv -k input_file               check the type indices\n"
      "Options come before the input file; the input is the argument after them.\n"
      "  -o FILE        name of the context file (default: the input's name with .ctx)\n"
      "  -q             no banner and no \"Created\" line\n"
      "  -v             list every warning about the input on standard error\n"
      "  --strict       a warning, or a pass that ends early, fails the run (status 2)\n"
      "                 and leaves no context file\n"
      "  --cpd-dir DIR  read the companion files (.cpd) of H8 programs from DIR\n"
      "  -s             list every record; -sf FILE and LINE, -st TYPE and MEMBER,\n"
      "                 -sg PUBLIC, -ss STARTLOCAL and ENDLOCAL, -sl SETLOCAL\n"
      "  -ps            pointers of unspecified size are 2 bytes (default 4)\n"
      "  -m16           segmented units keep 8 bits of offset\n"
      "  -l             every function type is FARFUNC\n"
      "  -fullpath      FILE records keep the whole source path\n"
      "  -c, -d         accepted, no effect\n"
      "  -h, --help     this text      --version   the version\n"
      "Exit status: 0 done (also when the pass ended early), 1 a type of undefined\n"
      "  kind, 2 --strict and the input had problems, 255 usage or fatal error,\n"
      "  128+n ended by signal n.\n",
      out);
}

void print_version(FILE* out) {
  std::fprintf(out, "tekconv %s\ncontext format version %u\n", tekconv::version(),
               tekconv::context_format_version());
}

}  // namespace tek
