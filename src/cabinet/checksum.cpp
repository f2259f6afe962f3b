#include "cabinet/checksum.h"

namespace cab {
namespace {

uint32_t load32(const uint8_t* p) {
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

}  // namespace

uint32_t checksum(const uint8_t* data, uint32_t bytes, uint32_t seed) {
  // XOR is order-free: the groups are gathered in 8 lanes side by side, which the compiler
  // can keep in vector registers, and folded together at the end.
  uint32_t lanes[8] = {};
  uint32_t groups = bytes / 4;
  uint32_t i = 0;
  for (; i + 8 <= groups; i += 8) {
    for (int lane = 0; lane < 8; ++lane) lanes[lane] ^= load32(data + 4 * (i + lane));
  }
  uint32_t sum = seed;
  for (uint32_t lane : lanes) sum ^= lane;
  for (; i < groups; ++i) sum ^= load32(data + 4 * i);
  // The 1 to 3 leftover bytes are folded in most significant first, unlike the groups.
  uint32_t tail = 0;
  for (uint32_t j = 4 * groups; j < bytes; ++j) tail = tail << 8 | data[j];
  return sum ^ tail;
}

}  // namespace cab
