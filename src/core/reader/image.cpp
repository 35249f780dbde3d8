#include "core/reader/image.hpp"

#include <vector>

#include "core/emit.hpp"
#include "core/reader/units.hpp"
#include "core/record_reader.hpp"

namespace tek {

namespace {

constexpr uint16_t OBJECT_MODE = 2;

// Writes one chunk at the current location and advances the location by its length. The
// OBJECT address is converted; the location stays unconverted.
void write_chunk(UnitState& us, const Output& o, const uint8_t* bytes, uint32_t n) {
  emit_object(o, OBJECT_MODE, convert_addr(us, o.settings, us.location), static_cast<uint16_t>(n),
              bytes);
  us.location += n;
}

// Reads n image bytes: in place in the input buffer where they lie in one piece, else into the
// chunk buffer.
const uint8_t* read_chunk(RecordReader& rd, uint8_t* chunk, uint32_t n) {
  if (const uint8_t* p = rd.take_block(n)) return p;
  rd.get_block(chunk, n);
  return chunk;
}

}  // namespace

PassStep handle_data(RecordReader& rd, UnitState& us, const Output& o) {
  uint8_t chunk[CHUNK_SIZE];
  uint32_t rest = rd.remaining();
  while (rest > CHUNK_SIZE) {
    write_chunk(us, o, read_chunk(rd, chunk, CHUNK_SIZE), CHUNK_SIZE);
    rest -= CHUNK_SIZE;
  }
  write_chunk(us, o, read_chunk(rd, chunk, rest), rest);
  rd.set_remaining(0);
  rd.consume_trailer();
  return PassStep::Continue;
}

PassStep handle_zero(RecordReader& rd, UnitState& us, const Output& o) {
  static const uint8_t zeros[CHUNK_SIZE] = {};
  uint32_t count = rd.get_word();
  while (count > CHUNK_SIZE) {
    write_chunk(us, o, zeros, CHUNK_SIZE);
    count -= CHUNK_SIZE;
  }
  write_chunk(us, o, zeros, count);
  rd.consume_trailer();
  return PassStep::Continue;
}

// The block is the pattern repeated count times, cut like a DATA block: full chunks while more
// than 256 bytes remain, then the rest. The pattern is read once into a buffer that continues it
// cyclically for one more chunk, so every chunk, wherever it starts in the pattern, is one
// contiguous slice of that buffer; memory does not depend on the count.
PassStep handle_repeat(RecordReader& rd, UnitState& us, const Output& o) {
  uint32_t count = rd.get_word();
  const size_t p = rd.remaining();
  std::vector<uint8_t> cycle;
  cycle.resize(p == 0 ? 0 : p + CHUNK_SIZE);
  rd.get_block(cycle.data(), p);
  for (size_t i = p; i < cycle.size(); ++i) cycle[i] = cycle[i - p];
  rd.set_remaining(0);

  uint64_t remaining = static_cast<uint64_t>(count) * p;
  size_t at = 0;  // position in the pattern of the next byte
  while (remaining > CHUNK_SIZE) {
    write_chunk(us, o, cycle.data() + at, CHUNK_SIZE);
    at = (at + CHUNK_SIZE) % p;
    remaining -= CHUNK_SIZE;
  }
  static const uint8_t none[1] = {};
  write_chunk(us, o, p == 0 ? none : cycle.data() + at, static_cast<uint32_t>(remaining));
  rd.consume_trailer();
  return PassStep::Continue;
}

}  // namespace tek
