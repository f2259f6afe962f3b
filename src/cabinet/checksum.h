// The data block checksum of the cabinet format.
#pragma once

#include <cstdint>

namespace cab {

// XORs every complete 4-byte group of `data`, read little-endian, into `seed`, then folds
// in the 1 to 3 leftover bytes as one value taken in big-endian order (b0; b0b1; b0b1b2).
// A block's stored checksum is checksum(header bytes after the checksum field,
// checksum(compressed bytes, 0)).
uint32_t checksum(const uint8_t* data, uint32_t bytes, uint32_t seed);

}  // namespace cab
