#include "tools/ctxdump/json.hpp"

#include <cinttypes>
#include <string_view>

namespace tek {

namespace {

// A JSON string of the bytes as characters U+0000 to U+00FF: plain ASCII as it is, the rest
// escaped, so that any byte of a name gives valid JSON.
void put_string(FILE* out, std::string_view s) {
  std::fputc('"', out);
  for (const char ch : s) {
    const auto c = static_cast<unsigned char>(ch);
    if (c == '"' || c == '\\') {
      std::fputc('\\', out);
      std::fputc(c, out);
    } else if (c < 0x20 || c >= 0x80) {
      std::fprintf(out, "\\u%04x", c);
    } else {
      std::fputc(c, out);
    }
  }
  std::fputc('"', out);
}

void put_key(FILE* out, std::string_view key) {
  std::fprintf(out, ",\"%.*s\":", static_cast<int>(key.size()), key.data());
}

// A code and its name, null for a code that the format does not name.
void put_code(FILE* out, const tekconv::ContextField& f) {
  std::fputs("{\"name\":", out);
  if (!f.code_name.empty())
    put_string(out, f.code_name);
  else
    std::fputs("null", out);
  std::fprintf(out, ",\"value\":%" PRIu32 "}", f.number);
}

}  // namespace

void print_json_record(FILE* out, const tekconv::ContextRecord& rec, bool hex,
                       const std::string* file) {
  std::fputc('{', out);
  if (file) {
    std::fprintf(out, "\"%s\":", JSON_FILE_KEY);
    put_string(out, *file);
    std::fputc(',', out);
  }
  std::fprintf(out, "\"%s\":%" PRIu64, JSON_OFFSET_KEY, rec.offset);
  put_key(out, JSON_TAG_KEY);
  put_string(out, rec.name);
  for (const tekconv::ContextField& f : rec.fields) {
    switch (f.kind) {
      case tekconv::FieldKind::Bytes:
        if (hex) {
          put_key(out, f.name);
          std::fputc('"', out);
          for (const uint8_t b : f.bytes) std::fprintf(out, "%02x", b);
          std::fputc('"', out);
        }
        break;
      case tekconv::FieldKind::String:
        put_key(out, f.name);
        put_string(out, f.text);
        break;
      case tekconv::FieldKind::Signed:
      case tekconv::FieldKind::Unsigned:
        put_key(out, f.name);
        if (f.is_code)
          put_code(out, f);
        else if (f.kind == tekconv::FieldKind::Signed)
          std::fprintf(out, "%" PRId32, static_cast<int32_t>(f.number));
        else
          std::fprintf(out, "%" PRIu32, f.number);
        break;
    }
  }
  std::fputs("}\n", out);
}

}  // namespace tek
