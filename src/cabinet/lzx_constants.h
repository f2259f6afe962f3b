// Constants of the LZX stream, shared by the decompressor and the cabinet writer's encoder.
#pragma once

#include <array>
#include <cstdint>

namespace lzx {

inline constexpr uint32_t MinWindowBits = 15;
inline constexpr uint32_t MaxWindowBits = 21;

// Output of one data block (all but the last of a folder): the bit stream restarts at each.
inline constexpr uint32_t FrameBytes = 32768;

inline constexpr uint32_t MinMatchBytes = 2;
inline constexpr uint32_t MaxMatchBytes = 257;

// Window bytes 0 to MirrorBytes - 1 are repeated after the window end, so that a match
// source running past the end continues there; WindowSlackBytes is the room allocated
// beyond the window for that mirror and slack.
inline constexpr uint32_t MirrorBytes = 257;
inline constexpr uint32_t WindowSlackBytes = 261;

// Symbol counts of the trees.
inline constexpr uint32_t LiteralSymbols = 256;
inline constexpr uint32_t MaxPositionSlots = 50;
inline constexpr uint32_t MaxMainSymbols = LiteralSymbols + 8 * MaxPositionSlots;  // 656
inline constexpr uint32_t PrimaryLengths = 7;      // length header values 0-6; 7 = see the length tree
inline constexpr uint32_t LengthSymbols = 249;
inline constexpr uint32_t AlignedSymbols = 8;
inline constexpr uint32_t PretreeSymbols = 20;

// Longest code a tree may hold, and the width of each tree's fields in the block header.
inline constexpr uint32_t MaxCodeBits = 16;
inline constexpr uint32_t PretreeLengthBits = 4;   // each pretree code length is 4 bits
inline constexpr uint32_t AlignedLengthBits = 3;   // each aligned-offset code length is 3 bits

// Pretree symbols: 0-16 code a length as a change against the previous tree's length;
// these three code runs.
inline constexpr uint32_t PretreeZeros4 = 17;   // 4 + (4 bits) zeros
inline constexpr uint32_t PretreeZeros20 = 18;  // 20 + (5 bits) zeros
inline constexpr uint32_t PretreeSame4 = 19;    // 4 + (1 bit) copies of one length, then a symbol 0-16

enum BlockType : uint32_t { NoBlock = 0, VerbatimBlock = 1, AlignedBlock = 2, UncompressedBlock = 3 };
inline constexpr uint32_t BlockTypeBits = 3;
inline constexpr uint32_t BlockSizeBits = 24;

// The E8 call translation applies to the first E8FrameLimit frames of a folder, never to the
// last E8TailBytes bytes of a frame, and not at all to frames of E8MinFrameBytes or fewer.
inline constexpr uint32_t E8FrameLimit = 32768;
inline constexpr uint32_t E8TailBytes = 10;
inline constexpr uint32_t E8MinFrameBytes = 6;

// Position slots. Column 1: slot s; extraBits[s]: the count of extra bits after the slot;
// positionBase[s]: the smallest formatted offset of the slot. A formatted offset is the match
// distance + 2; slots 0-2 stand for the repeated offsets R0-R2 instead.
inline constexpr std::array<uint8_t, MaxPositionSlots + 1> ExtraBits = [] {
  std::array<uint8_t, MaxPositionSlots + 1> bits{};
  for (uint32_t s = 0; s <= MaxPositionSlots; ++s)
    bits[s] = s < 4 ? 0 : s < 36 ? static_cast<uint8_t>(s / 2 - 1) : 17;
  return bits;
}();

inline constexpr std::array<uint32_t, MaxPositionSlots + 1> PositionBase = [] {
  std::array<uint32_t, MaxPositionSlots + 1> base{};
  for (uint32_t s = 1; s <= MaxPositionSlots; ++s) base[s] = base[s - 1] + (1u << ExtraBits[s - 1]);
  return base;
}();

// Position slots of a window of 2^windowBits bytes, 15 to 21: the first slot s from 5 up
// whose base reaches the window size.
constexpr uint32_t positionSlots(uint32_t windowBits) {
  uint32_t s = 5;
  while (s < MaxPositionSlots && PositionBase[s] < (1u << windowBits)) ++s;
  return s;
}

static_assert(positionSlots(15) == 30 && positionSlots(16) == 32 && positionSlots(17) == 34 &&
              positionSlots(18) == 36 && positionSlots(19) == 38 && positionSlots(20) == 42 &&
              positionSlots(21) == 50);
static_assert(PositionBase[4] == 4 && PositionBase[8] == 16 && PositionBase[50] == 2097152);

}  // namespace lzx
