#include "cabinet/checksum.h"

namespace cab {

uint32_t checksum(const uint8_t* data, uint32_t bytes, uint32_t seed) {
  uint32_t sum = seed;
  uint32_t groups = bytes / 4;
  for (uint32_t i = 0; i < groups; ++i, data += 4) {
    sum ^= uint32_t(data[0]) | uint32_t(data[1]) << 8 | uint32_t(data[2]) << 16 |
           uint32_t(data[3]) << 24;
  }
  // The leftover bytes are folded in most significant first, unlike the groups.
  uint32_t tail = 0;
  for (uint32_t i = 0; i < bytes % 4; ++i) tail = tail << 8 | data[i];
  return sum ^ tail;
}

}  // namespace cab
