// Builds deflate bit streams by hand for the decoder tests.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <vector>

namespace mszip_test {

class BitWriter {
 public:
  // Appends `count` bits of `value`, least significant first (header fields, extra bits).
  void bits(uint32_t value, uint32_t count) {
    for (uint32_t i = 0; i < count; ++i) {
      if (bitCount_ % 8 == 0) bytes_.push_back(0);
      bytes_.back() |= static_cast<uint8_t>(((value >> i) & 1) << (bitCount_ % 8));
      ++bitCount_;
    }
  }
  // Appends a Huffman code, most significant bit first.
  void code(uint32_t code, uint32_t length) {
    for (uint32_t i = length; i-- > 0;) bits((code >> i) & 1, 1);
  }
  void alignToByte() { bitCount_ = (bitCount_ + 7) / 8 * 8; }
  void rawBytes(const std::vector<uint8_t>& data) {
    alignToByte();
    bytes_.insert(bytes_.end(), data.begin(), data.end());
    bitCount_ += static_cast<uint32_t>(data.size()) * 8;
  }

  const std::vector<uint8_t>& bytes() const { return bytes_; }
  // The data block: "CK" and the bits so far.
  std::vector<uint8_t> block() const {
    std::vector<uint8_t> out = {'C', 'K'};
    out.insert(out.end(), bytes_.begin(), bytes_.end());
    return out;
  }

 private:
  std::vector<uint8_t> bytes_;
  uint32_t bitCount_ = 0;
};

// Canonical codes of a set of code lengths (0 = no code).
inline std::vector<uint32_t> canonicalCodes(const std::vector<uint8_t>& lengths) {
  uint32_t countByLength[16] = {};
  for (uint8_t len : lengths) ++countByLength[len];
  countByLength[0] = 0;
  uint32_t next[16] = {};
  uint32_t code = 0;
  for (int len = 1; len < 16; ++len) {
    code = (code + countByLength[len - 1]) << 1;
    next[len] = code;
  }
  std::vector<uint32_t> codes(lengths.size());
  for (size_t s = 0; s < lengths.size(); ++s) {
    if (lengths[s] != 0) codes[s] = next[lengths[s]]++;
  }
  return codes;
}

// One item of the code-length sequence: a symbol 0-18 and, for 16-18, its extra-bit value.
struct LengthItem {
  uint32_t symbol;
  uint32_t extra = 0;
};

inline std::vector<LengthItem> plainLengths(const std::vector<uint8_t>& lengths) {
  std::vector<LengthItem> items;
  for (uint8_t len : lengths) items.push_back({len});
  return items;
}

// Writes a dynamic block header for `literalCount` literal/length and `distanceCount`
// distance codes (the counts as stored, even out of range), using a complete code-length
// code: symbols 0-12 of 4 bits, 13-18 of 5 bits.
inline void writeDynamicHeader(BitWriter& w, bool final, uint32_t literalCount,
                               uint32_t distanceCount, const std::vector<LengthItem>& items) {
  static const uint8_t order[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};
  std::vector<uint8_t> clLengths(19);
  for (int s = 0; s < 19; ++s) clLengths[s] = s <= 12 ? 4 : 5;
  const auto clCodes = canonicalCodes(clLengths);
  w.bits(final ? 1 : 0, 1);
  w.bits(2, 2);
  w.bits(literalCount - 257, 5);
  w.bits(distanceCount - 1, 5);
  w.bits(19 - 4, 4);
  for (uint8_t s : order) w.bits(clLengths[s], 3);
  for (const LengthItem& item : items) {
    w.code(clCodes[item.symbol], clLengths[item.symbol]);
    if (item.symbol == 16) w.bits(item.extra, 2);
    if (item.symbol == 17) w.bits(item.extra, 3);
    if (item.symbol == 18) w.bits(item.extra, 7);
  }
}

// Fixed literal/length code of a symbol 0-287.
inline void writeFixedSymbol(BitWriter& w, uint32_t symbol) {
  if (symbol < 144) w.code(0x30 + symbol, 8);
  else if (symbol < 256) w.code(0x190 + symbol - 144, 9);
  else if (symbol < 280) w.code(symbol - 256, 7);
  else w.code(0xC0 + symbol - 280, 8);
}

// A match in the fixed code: length 3-258, distance 1-32768.
inline void writeFixedMatch(BitWriter& w, uint32_t length, uint32_t distance) {
  static const uint16_t lengthBase[29] = {3, 4, 5, 6, 7, 8, 9, 10, 11, 13, 15, 17, 19, 23, 27,
                                          31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
  static const uint8_t lengthExtra[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                          2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
  static const uint16_t distanceBase[30] = {1, 2, 3, 4, 5, 7, 9, 13, 17, 25, 33, 49, 65, 97, 129,
                                            193, 257, 385, 513, 769, 1025, 1537, 2049, 3073,
                                            4097, 6145, 8193, 12289, 16385, 24577};
  static const uint8_t distanceExtra[30] = {0, 0, 0, 0, 1, 1, 2, 2, 3, 3, 4, 4, 5, 5, 6,
                                            6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};
  int l = 28;
  while (lengthBase[l] > length) --l;
  writeFixedSymbol(w, 257 + l);
  w.bits(length - lengthBase[l], lengthExtra[l]);
  int d = 29;
  while (distanceBase[d] > distance) --d;
  w.code(d, 5);
  w.bits(distance - distanceBase[d], distanceExtra[d]);
}

}  // namespace mszip_test
