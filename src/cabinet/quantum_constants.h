// Constants of the Quantum format, shared by the decompressor and the packer's encoder.
#pragma once

#include <algorithm>
#include <cstdint>

namespace quantum {

inline constexpr uint32_t MinWindowBits = 10;
inline constexpr uint32_t MaxWindowBits = 21;

// What a selector symbol stands for.
enum Selector : int32_t {
  // 0 to 3: a literal coded in literal model 0 to 3 (bytes 0x00-0x3F, 0x40-0x7F, ...).
  SelectorMatch3 = 4,       // a match of 3 bytes, position from the length-3 position model
  SelectorMatch4 = 5,       // a match of 4 bytes, position from the length-4 position model
  SelectorMatchLonger = 6,  // a length slot, then a position from the longer-match model
};

inline constexpr int32_t SelectorSymbols = 7;
inline constexpr int32_t LiteralModelCount = 4;
inline constexpr int32_t LiteralSymbols = 64;  // bytes per literal model
inline constexpr int32_t PositionSlotCount = 42;
inline constexpr int32_t LengthSlotCount = 27;
inline constexpr int32_t MaxModelSymbols = 64;

inline constexpr uint32_t MinMatchBytes = 3;
inline constexpr uint32_t MaxMatchBytes = 259;
// A length slot's match is its base + extra bits + this.
inline constexpr uint32_t LongerMatchOffset = 5;
inline constexpr uint32_t MaxDistanceBytes = 2097152;

// Adaptive model arithmetic: every coded symbol adds ModelIncrement to its frequency; a
// model whose total passes RescaleAboveTotal is rescaled. The first reordering by frequency
// comes at the FirstReorderCountdown-th rescale, then at every ReorderInterval-th.
inline constexpr uint32_t ModelIncrement = 8;
inline constexpr uint32_t RescaleAboveTotal = 3800;
inline constexpr int32_t FirstReorderCountdown = 4;
inline constexpr int32_t ReorderInterval = 50;

// Position slots. Column 1: extra bits read raw after the slot; column 2: distance − 1 at
// the slot's start (each base is the previous one plus 2^previous extra bits).
struct SlotRow {
  uint8_t extraBits;
  uint32_t base;
};

inline constexpr SlotRow PositionSlots[PositionSlotCount] = {
    {0, 0},        {0, 1},        {0, 2},        {0, 3},        {1, 4},
    {1, 6},        {2, 8},        {2, 12},       {3, 16},       {3, 24},
    {4, 32},       {4, 48},       {5, 64},       {5, 96},       {6, 128},
    {6, 192},      {7, 256},      {7, 384},      {8, 512},      {8, 768},
    {9, 1024},     {9, 1536},     {10, 2048},    {10, 3072},    {11, 4096},
    {11, 6144},    {12, 8192},    {12, 12288},   {13, 16384},   {13, 24576},
    {14, 32768},   {14, 49152},   {15, 65536},   {15, 98304},   {16, 131072},
    {16, 196608},  {17, 262144},  {17, 393216},  {18, 524288},  {18, 786432},
    {19, 1048576}, {19, 1572864},
};

// Length slots of the longer-match model. Column 1: extra bits read raw after the slot;
// column 2: length − 5 at the slot's start.
inline constexpr SlotRow LengthSlots[LengthSlotCount] = {
    {0, 0},   {0, 1},   {0, 2},   {0, 3},   {0, 4},   {0, 5},   {1, 6},
    {1, 8},   {1, 10},  {1, 12},  {2, 14},  {2, 18},  {2, 22},  {2, 26},
    {3, 30},  {3, 38},  {3, 46},  {3, 54},  {4, 62},  {4, 78},  {4, 94},
    {4, 110}, {5, 126}, {5, 158}, {5, 190}, {5, 222}, {0, 254},
};

constexpr bool slotsFollowEachOther(const SlotRow* slots, int32_t count) {
  for (int32_t s = 1; s < count; ++s) {
    if (slots[s].base != slots[s - 1].base + (1u << slots[s - 1].extraBits)) return false;
  }
  return true;
}
static_assert(slotsFollowEachOther(PositionSlots, PositionSlotCount));
static_assert(slotsFollowEachOther(LengthSlots, LengthSlotCount));
static_assert(PositionSlots[41].base + (1u << 19) == MaxDistanceBytes);
static_assert(LengthSlots[26].base + LongerMatchOffset == MaxMatchBytes);

// The number of position slots whose base lies below `limitBytes`.
constexpr int32_t positionSlotsBelow(uint32_t limitBytes) {
  int32_t count = 0;
  while (count < PositionSlotCount && PositionSlots[count].base < limitBytes) ++count;
  return count;
}

// Symbol counts of the three position models for a window of 2^windowBits bytes: matches
// of 3 bytes reach at most 4096 back, matches of 4 bytes at most 262144, longer ones the
// whole window.
constexpr int32_t match3PositionSlots(uint32_t windowBits) {
  return positionSlotsBelow(std::min(1u << windowBits, 4096u));
}
constexpr int32_t match4PositionSlots(uint32_t windowBits) {
  return positionSlotsBelow(std::min(1u << windowBits, 262144u));
}
constexpr int32_t longerPositionSlots(uint32_t windowBits) {
  return positionSlotsBelow(1u << windowBits);
}
static_assert(match3PositionSlots(10) == 20 && match3PositionSlots(12) == 24);
static_assert(match4PositionSlots(21) == 36 && longerPositionSlots(21) == 42);

}  // namespace quantum
