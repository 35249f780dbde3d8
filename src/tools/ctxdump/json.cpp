#include "tools/ctxdump/json.hpp"

#include <cinttypes>
#include <string_view>
#include <type_traits>

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

void put_key(FILE* out, const char* key) {
  std::fprintf(out, ",\"%s\":", key);
}

// A code and its name, null for a code that the format does not name.
void put_code(FILE* out, uint32_t code, const char* name) {
  std::fputs("{\"name\":", out);
  if (name)
    put_string(out, name);
  else
    std::fputs("null", out);
  std::fprintf(out, ",\"value\":%" PRIu32 "}", code);
}

template <class V>
void put_number(FILE* out, const V& v, uint32_t value, JsonForm form) {
  if (form == JsonForm::Kind) return put_code(out, value, find_kind_name(uint8_t(value)));
  if (form == JsonForm::Class) return put_code(out, value, find_class_name(uint8_t(value)));
  bool is_signed = form == JsonForm::Signed;
  if constexpr (std::is_same_v<V, SetLocalValue>)
    if (form == JsonForm::LocalOffset) is_signed = v.cls == CLASS_AUTO;
  if (is_signed)
    std::fprintf(out, "%" PRId32, static_cast<int32_t>(value));
  else
    std::fprintf(out, "%" PRIu32, value);
}

}  // namespace

void print_json_record(FILE* out, const CtxRecord& rec, bool hex, const std::string* file) {
  std::fputc('{', out);
  if (file) {
    std::fprintf(out, "\"%s\":", JSON_FILE_KEY);
    put_string(out, *file);
    std::fputc(',', out);
  }
  std::fprintf(out, "\"%s\":%zu", JSON_OFFSET_KEY, rec.offset);
  put_key(out, JSON_TAG_KEY);
  put_string(out, tag_name(rec.tag));
  visit_record(rec, [&]<class V>(const V& v) {
    for_each_field(v, [&](const Field<V>& f) {
      const char* key = field_name(f);
      put_key(out, key ? key : "?");
      if (f.width == 0) {
        put_string(out, name_of(v));
      } else {
        const FieldName<V>* n = find_field(f);
        put_number(out, v, v.*f.member, n ? n->form : JsonForm::Unsigned);
      }
    });
    if constexpr (requires { v.data; }) {
      if (hex) {
        put_key(out, JSON_DATA_KEY);
        std::fputc('"', out);
        for (const uint8_t b : v.data) std::fprintf(out, "%02x", b);
        std::fputc('"', out);
      }
    }
  });
  std::fputs("}\n", out);
}

}  // namespace tek
