#include "core/reader/image.hpp"

#include <cstring>
#include <new>
#include <vector>

#include "core/converter.hpp"
#include "core/emit.hpp"
#include "core/errors.hpp"

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

// Reads n image bytes: in place in the input buffer where they lie in one piece, else into the
// chunk buffer.
static const uint8_t* read_chunk(Converter& cv, uint8_t* chunk, uint32_t n) {
  if (const uint8_t* p = take_block(cv, n)) return p;
  get_block(cv, chunk, n);
  return chunk;
}

PassStep handle_data(Converter& cv) {
  uint8_t chunk[CHUNK_SIZE];
  while (cv.rd.rec_len > CHUNK_SIZE) {
    write_chunk(cv, read_chunk(cv, chunk, CHUNK_SIZE), CHUNK_SIZE);
    cv.rd.rec_len -= CHUNK_SIZE;
  }
  uint32_t rest = cv.rd.rec_len;
  write_chunk(cv, read_chunk(cv, chunk, rest), rest);
  cv.rd.rec_len = 0;
  consume_trailer(cv);
  return PassStep::Continue;
}

PassStep handle_zero(Converter& cv) {
  static const uint8_t zeros[CHUNK_SIZE] = {};
  uint32_t count = get_word(cv);
  while (count > CHUNK_SIZE) {
    write_chunk(cv, zeros, CHUNK_SIZE);
    count -= CHUNK_SIZE;
  }
  write_chunk(cv, zeros, count);
  consume_trailer(cv);
  return PassStep::Continue;
}

// The block is the pattern repeated count times, cut like a DATA block: full chunks while more
// than 256 bytes remain, then the rest. The pattern is read once into a buffer that continues it
// cyclically for one more chunk, so every chunk, wherever it starts in the pattern, is one
// contiguous slice of that buffer; memory does not depend on the count.
PassStep handle_repeat(Converter& cv) {
  uint32_t count = get_word(cv);
  const size_t p = cv.rd.rec_len;
  std::vector<uint8_t> cycle;
  cycle.resize(p == 0 ? 0 : p + CHUNK_SIZE);
  get_block(cv, cycle.data(), p);
  for (size_t i = p; i < cycle.size(); ++i) cycle[i] = cycle[i - p];
  cv.rd.rec_len = 0;

  uint64_t remaining = static_cast<uint64_t>(count) * p;
  size_t at = 0;  // position in the pattern of the next byte
  while (remaining > CHUNK_SIZE) {
    write_chunk(cv, cycle.data() + at, CHUNK_SIZE);
    at = (at + CHUNK_SIZE) % p;
    remaining -= CHUNK_SIZE;
  }
  static const uint8_t none[1] = {};
  write_chunk(cv, p == 0 ? none : cycle.data() + at, static_cast<uint32_t>(remaining));
  consume_trailer(cv);
  return PassStep::Continue;
}

}  // namespace tek
