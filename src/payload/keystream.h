// The scrambling of an embedded cabinet: every byte is keyed by its position in the
// cabinet, so reads may start anywhere and come in any order.
#pragma once

#include <cstdint>

namespace payload {

// 256 entries of 15 bits drawn from the seed by the classic C runtime `rand` generator
// (x := x * 214013 + 2531011, entry := (x >> 16) & 0x7fff), the first entry from the first
// step. The byte at cabinet position p uses entry p & 0xff: its low byte is XORed, its high
// byte (0..0x7f) added.
class Keystream {
 public:
  static constexpr uint32_t Entries = 256;

  void fill(uint32_t seed);
  uint16_t entry(uint32_t index) const { return entries_[index % Entries]; }

  uint8_t scramble(uint8_t plain, uint32_t position) const {
    uint16_t key = entry(position);
    return uint8_t(uint8_t(plain + (key >> 8)) ^ (key & 0xff));
  }
  uint8_t unscramble(uint8_t stored, uint32_t position) const {
    uint16_t key = entry(position);
    return uint8_t((stored ^ (key & 0xff)) - (key >> 8));
  }
  // In place, for `bytes` bytes that start at cabinet position `position`.
  void scramble(uint8_t* data, uint32_t bytes, uint32_t position) const;
  void unscramble(uint8_t* data, uint32_t bytes, uint32_t position) const;

 private:
  uint16_t entries_[Entries];
};

}  // namespace payload
