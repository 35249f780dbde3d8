#include "format/ctx/tags.hpp"

#include <array>

namespace tek {

namespace {

std::array<TagRow, 256> build_rows() {
  std::array<TagRow, 256> rows{};
  for_each_record([&]<class V>() {
    using I = RecordInfo<V>;
    rows[I::tag] = {I::tag, I::name, I::stream, I::dump_bit};
  });
  return rows;
}

const std::array<TagRow, 256> ROWS = build_rows();

}  // namespace

const TagRow* tag_row(uint8_t tag) {
  const TagRow& row = ROWS[tag];
  return row.name ? &row : nullptr;
}

}  // namespace tek
