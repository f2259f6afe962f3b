#include "payload/keystream.h"

namespace payload {

void Keystream::fill(uint32_t seed) {
  uint32_t x = seed;
  for (uint32_t i = 0; i < Entries; ++i) {
    x = x * 214013u + 2531011u;
    entries_[i] = uint16_t((x >> 16) & 0x7fff);
  }
}

void Keystream::scramble(uint8_t* data, uint32_t bytes, uint32_t position) const {
  for (uint32_t j = 0; j < bytes; ++j) data[j] = scramble(data[j], position + j);
}

void Keystream::unscramble(uint8_t* data, uint32_t bytes, uint32_t position) const {
  for (uint32_t j = 0; j < bytes; ++j) data[j] = unscramble(data[j], position + j);
}

}  // namespace payload
