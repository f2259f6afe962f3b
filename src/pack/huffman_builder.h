// Code lengths and canonical codes for the Huffman trees of the cabinet writer's encoders.
#pragma once

#include <cstddef>
#include <cstdint>

namespace pack {

// Fills lengths[0 .. count-1] with Huffman code lengths of at most `maxBits` for the given
// symbol frequencies. The result is always a complete code or all zeros: no used symbol
// gives all zeros, and a single used symbol is paired with a second one (both 1 bit), since
// a decoder accepts nothing in between. `count` must be at most 1 << maxBits.
void buildCodeLengths(const uint32_t* frequencies, size_t count, int maxBits, uint8_t* lengths);

// Canonical most-significant-bit-first codes for the lengths: shorter codes first, and
// within one length symbols in increasing order.
void buildCanonicalCodes(const uint8_t* lengths, size_t count, uint16_t* codes);

}  // namespace pack
