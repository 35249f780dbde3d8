#include "tools/tekconv/usage.hpp"

#include "tekconv/tekconv.hpp"

namespace tek {

void print_help(FILE* out) {
  std::fputs(
      "Usage: tekconv [option...] input_file      convert into a context file\n"
      "       tekconv -s|-sf|-st|-sg|-ss|-sl [option...] input_file   list the records\n"
      "       tekconv -k input_file               check the type indices\n"
      "Options come before the input file; -- ends them; - as the input is stdin.\n"
      "  -o FILE        output file (default: the input's name with .ctx or .elf);\n"
      "                 -o - writes it to stdout, and the messages to stderr\n"
      "  -O FORMAT      ctx (the context file, default) or elf (ELF with DWARF)\n"
      "  -q             no banner and no \"Created\" line\n"
      "  -v             list every warning about the input on standard error\n"
      "  --strict       a warning, or a pass that ends early, fails the run (status 2)\n"
      "  --cpd-dir DIR  read the companion files (.cpd) of H8 programs from DIR\n"
      "                 (also --output=FILE, --cpd-dir=DIR, -OFORMAT, -O=FORMAT)\n"
      "  -s             list every record; -sf FILE and LINE, -st TYPE and MEMBER,\n"
      "                 -sg PUBLIC, -ss STARTLOCAL and ENDLOCAL, -sl SETLOCAL\n"
      "  -ps            pointers of unspecified size are 2 bytes (default 4)\n"
      "  -m16           segmented units keep 8 bits of offset\n"
      "  -l             every function type is FARFUNC\n"
      "  -fullpath      FILE records keep the whole source path;  -c, -d  no effect\n"
      "  -h, --help     this text      --version   the version\n"
      "Exit status: 0 done (also when the pass ended early), 1 a type of undefined\n"
      "  kind, 2 --strict and the input had problems, 255 usage or fatal error,\n"
      "  128+n ended by signal n.\n"
      "Example: tekconv -q --strict -o build/prog.ctx prog.abs\n",
      out);
}

void print_version(FILE* out) {
  std::fprintf(out, "tekconv %s\ncontext format version %u\n", tekconv::version(),
               tekconv::context_format_version());
}

}  // namespace tek
