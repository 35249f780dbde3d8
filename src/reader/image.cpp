#include "reader/image.hpp"

#include <cstring>
#include <vector>

#include "context/emit.hpp"
#include "driver/converter.hpp"

namespace tek {

namespace {

constexpr uint16_t OBJECT_MODE = 2;

// Writes one chunk at the current location and advances the location by its length. The
// OBJECT address is converted; the location stays unconverted.
void write_chunk(Converter& cv, const uint8_t* bytes, uint32_t n) {
  uint32_t& loc = cv.units.location;
  emit_object(cv, OBJECT_MODE, convert_addr(cv, loc), static_cast<uint16_t>(n), bytes);
  loc += n;
}

}  // namespace

int handle_data(Converter& cv) {
  uint8_t chunk[CHUNK_SIZE];
  while (cv.rd.rec_len > CHUNK_SIZE) {
    get_block(cv, chunk, CHUNK_SIZE);
    write_chunk(cv, chunk, CHUNK_SIZE);
    cv.rd.rec_len -= CHUNK_SIZE;
  }
  uint32_t rest = cv.rd.rec_len;
  get_block(cv, chunk, rest);
  write_chunk(cv, chunk, rest);
  cv.rd.rec_len = 0;
  get_raw(cv, 1);
  return 0;
}

int handle_zero(Converter& cv) {
  uint8_t chunk[CHUNK_SIZE] = {};
  uint32_t count = get_word(cv);
  while (count > CHUNK_SIZE) {
    write_chunk(cv, chunk, CHUNK_SIZE);
    count -= CHUNK_SIZE;
  }
  write_chunk(cv, chunk, count);
  get_raw(cv, 1);
  return 0;
}

// The block is the pattern repeated count times, cut like a DATA block: full chunks while more
// than 256 bytes remain, then the rest. Chunks are filled from the pattern cyclically, so memory
// does not depend on the count.
int handle_repeat(Converter& cv) {
  uint32_t count = get_word(cv);
  std::vector<uint8_t> pattern(cv.rd.rec_len);
  get_block(cv, pattern.data(), pattern.size());
  cv.rd.rec_len = 0;

  const size_t p = pattern.size();
  uint64_t remaining = static_cast<uint64_t>(count) * p;
  size_t at = 0;  // position in the pattern of the next byte
  uint8_t chunk[CHUNK_SIZE];
  auto fill = [&](uint32_t n) {
    for (uint32_t filled = 0; filled < n;) {
      size_t take = std::min<size_t>(n - filled, p - at);
      std::memcpy(chunk + filled, pattern.data() + at, take);
      filled += static_cast<uint32_t>(take);
      at = (at + take) % p;
    }
  };
  while (remaining > CHUNK_SIZE) {
    fill(CHUNK_SIZE);
    write_chunk(cv, chunk, CHUNK_SIZE);
    remaining -= CHUNK_SIZE;
  }
  fill(static_cast<uint32_t>(remaining));
  write_chunk(cv, chunk, static_cast<uint32_t>(remaining));
  get_raw(cv, 1);
  return 0;
}

}  // namespace tek
