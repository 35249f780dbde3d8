// Counts the records of a context file with the installed library's reader: count FILE prints
// "N records"; a file that cannot be read prints the reader's error and exits with 1.
#include <cstdio>
#include <tekconv/context_reader.hpp>

int main(int argc, char** argv) {
  if (argc != 2) return 2;
  tekconv::Expected<tekconv::ContextReader> reader = tekconv::ContextReader::open(argv[1]);
  if (!reader) {
    std::fprintf(stderr, "%s\n", reader.error().message().c_str());
    return 1;
  }
  size_t count = 0;
  for (;;) {
    tekconv::Expected<const tekconv::ContextRecord*> record = reader->next();
    if (!record) {
      std::fprintf(stderr, "offset %llu: %s\n",
                   static_cast<unsigned long long>(record.error().offset().value_or(0)),
                   record.error().message().c_str());
      return 1;
    }
    if (!*record) break;
    ++count;
  }
  std::printf("%zu records\n", count);
  return 0;
}
