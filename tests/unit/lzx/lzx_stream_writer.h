// Hand-built LZX data blocks for the decoder tests: just enough of a writer to place chosen
// symbols, pretree runs and uncompressed blocks where a test wants them.
#pragma once

#include <cstdint>
#include <vector>

#include "cabinet/lzx_constants.h"
#include "pack/huffman_builder.h"

namespace lzxtest {

class Bits {
 public:
  void write(uint32_t value, int count) {
    for (int i = count - 1; i >= 0; --i) {
      word_ = static_cast<uint16_t>(word_ << 1 | ((value >> i) & 1));
      if (++used_ == 16) emit();
    }
  }
  // Zero bits to the next word boundary.
  void flush() {
    if (used_ != 0) write(0, 16 - used_);
  }
  // The padding before an uncompressed block's raw part (a whole word when aligned).
  void alignForRawBytes() {
    if (used_ == 0)
      write(0, 16);
    else
      flush();
  }
  int used() const { return used_; }
  void rawByte(uint8_t b) { bytes.push_back(b); }
  void rawLe32(uint32_t v) {
    for (int k = 0; k < 4; ++k) bytes.push_back(static_cast<uint8_t>(v >> (8 * k)));
  }
  std::vector<uint8_t> bytes;

 private:
  void emit() {
    bytes.push_back(static_cast<uint8_t>(word_));
    bytes.push_back(static_cast<uint8_t>(word_ >> 8));
    word_ = 0;
    used_ = 0;
  }
  uint16_t word_ = 0;
  int used_ = 0;
};

// One pretree symbol with its extra bits; `second` is the change symbol after a 19.
struct PretreeOp {
  uint32_t symbol;
  uint32_t extra = 0;
  int second = -1;
};

inline uint32_t pretreeExtraBits(uint32_t symbol) {
  return symbol == 17 ? 4 : symbol == 18 ? 5 : symbol == 19 ? 1 : 0;
}

// Writes a pretree (built from the ops' own symbol counts) and then the ops.
inline void writePretreeOps(Bits& bits, const std::vector<PretreeOp>& ops) {
  uint32_t frequencies[20] = {};
  for (const PretreeOp& op : ops) {
    ++frequencies[op.symbol];
    if (op.second >= 0) ++frequencies[op.second];
  }
  uint8_t lengths[20];
  uint16_t codes[20];
  pack::buildCodeLengths(frequencies, 20, 15, lengths);
  pack::buildCanonicalCodes(lengths, 20, codes);
  for (uint8_t l : lengths) bits.write(l, 4);
  for (const PretreeOp& op : ops) {
    bits.write(codes[op.symbol], lengths[op.symbol]);
    bits.write(op.extra, static_cast<int>(pretreeExtraBits(op.symbol)));
    if (op.second >= 0) bits.write(codes[op.second], lengths[op.second]);
  }
}

// Plain changes, no runs: lengths[first..last) against previous.
inline std::vector<PretreeOp> changeOps(const uint8_t* lengths, const uint8_t* previous,
                                        uint32_t first, uint32_t last) {
  std::vector<PretreeOp> ops;
  for (uint32_t i = first; i < last; ++i) ops.push_back({(previous[i] + 17u - lengths[i]) % 17u});
  return ops;
}

// A coded element: main symbol, then a length symbol when the header is 7, then extra bits.
struct Symbol {
  uint32_t main;
  int length = -1;
  uint32_t extraBits = 0;
  uint32_t extra = 0;
};

// Trees of a verbatim block, with lengths made from the symbols' own counts.
struct Trees {
  uint8_t main[lzx::MaxMainSymbols] = {};
  uint8_t length[lzx::LengthSymbols] = {};
  uint16_t mainCodes[lzx::MaxMainSymbols] = {};
  uint16_t lengthCodes[lzx::LengthSymbols] = {};

  Trees(const std::vector<Symbol>& symbols, uint32_t mainSymbols) {
    uint32_t mainCounts[lzx::MaxMainSymbols] = {};
    uint32_t lengthCounts[lzx::LengthSymbols] = {};
    for (const Symbol& s : symbols) {
      ++mainCounts[s.main];
      if (s.length >= 0) ++lengthCounts[s.length];
    }
    pack::buildCodeLengths(mainCounts, mainSymbols, 16, main);
    pack::buildCodeLengths(lengthCounts, lzx::LengthSymbols, 16, length);
    pack::buildCanonicalCodes(main, mainSymbols, mainCodes);
    pack::buildCanonicalCodes(length, lzx::LengthSymbols, lengthCodes);
  }
};

inline void writeBlockHeader(Bits& bits, uint32_t type, uint32_t sizeBytes) {
  bits.write(type, 3);
  bits.write(sizeBytes >> 16, 8);
  bits.write((sizeBytes >> 8) & 0xFF, 8);
  bits.write(sizeBytes & 0xFF, 8);
}

inline void writeSymbols(Bits& bits, const Trees& trees, const std::vector<Symbol>& symbols) {
  for (const Symbol& s : symbols) {
    bits.write(trees.mainCodes[s.main], trees.main[s.main]);
    if (s.length >= 0) bits.write(trees.lengthCodes[s.length], trees.length[s.length]);
    bits.write(s.extra, static_cast<int>(s.extraBits));
  }
}

// A whole verbatim block: header, the three pretree-coded ranges (plain changes against
// `previous*`), then the symbols. The caller flushes.
inline void writeVerbatimBlock(Bits& bits, uint32_t sizeBytes, uint32_t mainSymbols,
                               const std::vector<Symbol>& symbols, const Trees& trees,
                               const uint8_t* previousMain, const uint8_t* previousLength) {
  writeBlockHeader(bits, lzx::VerbatimBlock, sizeBytes);
  writePretreeOps(bits, changeOps(trees.main, previousMain, 0, 256));
  writePretreeOps(bits, changeOps(trees.main, previousMain, 256, mainSymbols));
  writePretreeOps(bits, changeOps(trees.length, previousLength, 0, lzx::LengthSymbols));
  writeSymbols(bits, trees, symbols);
}

inline Symbol literal(uint8_t b) { return {b}; }

// A match by slot (0-2 repeated offsets, 3 = offset 1, 4+ with extra bits) and length 2-257.
inline Symbol match(uint32_t slot, uint32_t lengthBytes, uint32_t extraBits = 0, uint32_t extra = 0) {
  uint32_t header = lengthBytes - 2 < 7 ? lengthBytes - 2 : 7;
  Symbol s{256 + slot * 8 + header};
  if (header == 7) s.length = static_cast<int>(lengthBytes - 9);
  s.extraBits = extraBits;
  s.extra = extra;
  return s;
}

}  // namespace lzxtest
