// LZX encoder of the cabinet writer.
//
// Each data block (one frame of up to 32768 bytes) becomes one LZX block of the frame's size,
// so a block never spans a data block and every data block starts a fresh bit stream, as the
// decoder expects. Per frame:
//   1. E8 preprocessing: relative x86 call targets after 0xE8 bytes are turned into absolute
//      ones (first 32768 frames of the folder, never in a frame's last 10 bytes).
//   2. Lazy LZ77 parse over the shared match finder, weighing each choice with the code
//      lengths of the previous block, and trying the repeated offsets R0-R2 at every step.
//   3. Huffman trees from the symbol counts, and the cheapest of verbatim, aligned-offset and
//      uncompressed block for the frame.
// History (window, trees for the delta coding, repeated offsets) runs on through the folder.
#include <algorithm>
#include <array>
#include <bit>
#include <cstring>

#include "cabinet/lzx_constants.h"
#include "pack/compressor.h"
#include "pack/huffman_builder.h"
#include "pack/match_finder.h"

namespace pack {

namespace {

using namespace lzx;

constexpr uint32_t E8TranslationBytes = 12000000;
constexpr int SearchDepth = 24;
// After a frame whose matches covered less than a third of it, the next is searched lightly:
// data that is already compressed has few real matches, and deep searches there only cost
// time (every link followed is a cache miss).
constexpr int LightSearchDepth = 2;
// Matches at least this long are taken at once, without looking one byte further.
constexpr uint32_t NiceMatchBytes = 48;
constexpr uint8_t PretreeMaxBits = 15;  // a pretree length is a 4-bit field
constexpr uint8_t AlignedMaxBits = 7;   // an aligned-offset length is a 3-bit field

// Writes bits most significant first into 16-bit little-endian words.
class BitWriter {
 public:
  explicit BitWriter(std::vector<uint8_t>& out) : out_(out) {}
  // Bits written since this writer was made.
  size_t bitCount() const { return (out_.size() - startBytes_) * 8 + pendingBits_; }
  void write(uint32_t value, int bits) {
    pending_ = pending_ << bits | value;
    pendingBits_ += bits;
    while (pendingBits_ >= 16) {
      uint32_t word = static_cast<uint32_t>(pending_ >> (pendingBits_ - 16)) & 0xFFFF;
      out_.push_back(static_cast<uint8_t>(word));
      out_.push_back(static_cast<uint8_t>(word >> 8));
      pendingBits_ -= 16;
    }
    pending_ &= (uint64_t{1} << pendingBits_) - 1;
  }
  // Pads with zeros to the next word boundary.
  void flush() {
    if (pendingBits_ > 0) write(0, 16 - pendingBits_);
  }
  // Before an uncompressed block's raw part the decoder skips to the word after the current
  // one: a whole padding word when the header ended on a word boundary.
  void alignForRawBytes() {
    if (pendingBits_ == 0)
      write(0, 16);
    else
      flush();
  }

 private:
  std::vector<uint8_t>& out_;
  size_t startBytes_ = out_.size();
  uint64_t pending_ = 0;
  int pendingBits_ = 0;
};

// One coded element of a frame: a literal, or a match as main symbol, optional length
// symbol and the extra bits of its position slot.
struct Item {
  uint16_t mainSymbol;
  int16_t lengthSymbol;  // -1: none
  uint8_t extraBits;
  uint32_t extraValue;
};

uint32_t positionSlot(uint32_t formattedOffset) {
  if (formattedOffset < 4) return formattedOffset;
  if (formattedOffset >= PositionBase[36]) return 36 + ((formattedOffset - PositionBase[36]) >> 17);
  uint32_t high = 31 - static_cast<uint32_t>(std::countl_zero(formattedOffset));
  return 2 * high + ((formattedOffset >> (high - 1)) & 1);
}

uint32_t readLe32(const uint8_t* p) {
  return p[0] | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
}

// The inverse of the decoder's E8 translation for one frame; `offset` is the folder position
// of frame[0].
void preprocessE8(uint8_t* frame, uint32_t lengthBytes, uint32_t offset, uint32_t fileSize) {
  if (lengthBytes <= E8TailBytes) return;
  for (uint32_t j = 0; j < lengthBytes - E8TailBytes;) {
    if (frame[j] != 0xE8) {
      ++j;
      continue;
    }
    uint32_t target = readLe32(frame + j + 1);
    uint32_t position = offset + j;
    uint32_t stored;
    // The decoder maps stored values below fileSize to value - position, values in the top
    // `position` of the range to value + fileSize, and keeps the rest.
    if (target + position < fileSize) {
      stored = target + position;
    } else if (uint32_t v = target - fileSize; v >= fileSize && 0u - v <= position) {
      stored = v;
    } else {
      stored = target;
    }
    frame[j + 1] = static_cast<uint8_t>(stored);
    frame[j + 2] = static_cast<uint8_t>(stored >> 8);
    frame[j + 3] = static_cast<uint8_t>(stored >> 16);
    frame[j + 4] = static_cast<uint8_t>(stored >> 24);
    j += 5;
  }
}

// Turns a tree's lengths into pretree symbols (with their extra bits) as changes against the
// previous lengths, runs cut at `last`.
struct PretreeItem {
  uint8_t symbol;
  uint8_t extraBits;
  uint8_t extraValue;
  int8_t sameSymbol;  // symbol 19: the change symbol that follows; else -1
};

void pretreeItems(const uint8_t* lengths, const uint8_t* previous, uint32_t first, uint32_t last,
                  std::vector<PretreeItem>& items) {
  items.clear();
  auto change = [&](uint32_t i, uint8_t value) {
    return static_cast<uint8_t>((previous[i] + 17 - value) % 17);
  };
  uint32_t i = first;
  while (i < last) {
    uint8_t value = lengths[i];
    uint32_t run = 1;
    while (i + run < last && lengths[i + run] == value) ++run;
    if (value == 0 && run >= 4) {
      while (run >= 20) {
        uint32_t n = std::min<uint32_t>(run, 51);
        items.push_back({static_cast<uint8_t>(PretreeZeros20), 5, static_cast<uint8_t>(n - 20), -1});
        i += n;
        run -= n;
      }
      if (run >= 4) {
        items.push_back({static_cast<uint8_t>(PretreeZeros4), 4, static_cast<uint8_t>(run - 4), -1});
        i += run;
        run = 0;
      }
    } else {
      while (run >= 4) {
        uint32_t n = std::min<uint32_t>(run, 5);
        items.push_back({static_cast<uint8_t>(PretreeSame4), 1, static_cast<uint8_t>(n - 4),
                         static_cast<int8_t>(change(i, value))});
        i += n;
        run -= n;
      }
    }
    for (; run > 0; --run, ++i) items.push_back({change(i, lengths[i]), 0, 0, -1});
  }
}

// Writes one pretree-coded range of lengths; returns the bits it took.
void writeLengths(BitWriter& bits, const uint8_t* lengths, const uint8_t* previous,
                  uint32_t first, uint32_t last, std::vector<PretreeItem>& scratch) {
  pretreeItems(lengths, previous, first, last, scratch);
  uint32_t frequencies[PretreeSymbols] = {};
  for (const PretreeItem& item : scratch) {
    ++frequencies[item.symbol];
    if (item.sameSymbol >= 0) ++frequencies[item.sameSymbol];
  }
  uint8_t treeLengths[PretreeSymbols];
  uint16_t codes[PretreeSymbols];
  buildCodeLengths(frequencies, PretreeSymbols, PretreeMaxBits, treeLengths);
  buildCanonicalCodes(treeLengths, PretreeSymbols, codes);
  for (uint32_t s = 0; s < PretreeSymbols; ++s) bits.write(treeLengths[s], PretreeLengthBits);
  for (const PretreeItem& item : scratch) {
    bits.write(codes[item.symbol], treeLengths[item.symbol]);
    if (item.extraBits != 0) bits.write(item.extraValue, item.extraBits);
    if (item.sameSymbol >= 0) bits.write(codes[item.sameSymbol], treeLengths[item.sameSymbol]);
  }
}

class LzxCompressor final : public FolderCompressor {
 public:
  explicit LzxCompressor(int windowBits)
      : windowBits_(static_cast<uint32_t>(windowBits)),
        slotCount_(positionSlots(windowBits_)),
        mainSymbols_(LiteralSymbols + 8 * slotCount_),
        finder_((1u << windowBits_) - 3, MaxMatchBytes, SearchDepth, MinMatchBytes) {
    updateCosts(nullptr, nullptr);
  }

  uint16_t compressionWord() const override {
    return static_cast<uint16_t>(static_cast<uint16_t>(Method::Lzx) | windowBits_ << 8);
  }

  void compressBlock(std::span<const uint8_t> block, bool lastBlock,
                     std::vector<uint8_t>& out) override;

 private:
  struct Choice {
    uint32_t lengthBytes = 0;
    uint32_t distanceBytes = 0;
    int repeated = -1;  // 0-2: coded as R0-R2
    int32_t savingsBits = 0;
  };

  void updateCosts(const uint8_t* mainLengths, const uint8_t* lengthLengths);
  int32_t matchCost(uint32_t lengthBytes, uint32_t slot) const;
  Choice bestAt(uint32_t position, uint32_t limitBytes, const uint32_t* repeated);
  void parse(uint32_t start, uint32_t lengthBytes);
  void emitMatch(const Choice& choice, uint32_t* repeated);

  uint32_t windowBits_;
  uint32_t slotCount_;
  uint32_t mainSymbols_;
  MatchFinder finder_;
  uint32_t repeated_[3] = {1, 1, 1};
  uint8_t mainLengths_[MaxMainSymbols] = {};    // the last coded trees: the base of the
  uint8_t lengthLengths_[LengthSymbols] = {};   // decoder's delta coding
  bool e8HeaderDue_ = true;
  bool padByteDue_ = false;  // an odd uncompressed block ended with the previous data block
  bool previousPoor_ = false;  // matches covered less than a third of the previous frame
  uint32_t frameIndex_ = 0;
  uint32_t e8Offset_ = 0;
  uint32_t frameStart_ = 0;  // stream position of the current frame

  // Estimated bits per symbol, from the previous block's code lengths.
  uint8_t mainCost_[MaxMainSymbols];
  uint8_t lengthCost_[LengthSymbols];
  std::vector<uint32_t> literalPrefixCost_;  // bits of coding frame[0..i) as literals

  std::vector<uint8_t> frame_;
  std::vector<Item> items_;
  std::vector<Match> candidates_ = std::vector<Match>(MaxMatchBytes + 2);
  std::vector<PretreeItem> pretreeScratch_;
};

void LzxCompressor::updateCosts(const uint8_t* mainLengths, const uint8_t* lengthLengths) {
  for (uint32_t s = 0; s < MaxMainSymbols; ++s) {
    uint8_t fallback = s < LiteralSymbols ? 8 : 9;
    if (mainLengths != nullptr) fallback = 12;
    mainCost_[s] = mainLengths != nullptr && mainLengths[s] != 0 ? mainLengths[s] : fallback;
  }
  for (uint32_t s = 0; s < LengthSymbols; ++s)
    lengthCost_[s] = lengthLengths != nullptr && lengthLengths[s] != 0 ? lengthLengths[s]
                     : lengthLengths != nullptr                         ? 12
                                                                        : 7;
}

int32_t LzxCompressor::matchCost(uint32_t lengthBytes, uint32_t slot) const {
  uint32_t header = std::min(lengthBytes - MinMatchBytes, PrimaryLengths);
  int32_t cost = mainCost_[LiteralSymbols + slot * 8 + header] + ExtraBits[slot];
  if (header == PrimaryLengths) cost += lengthCost_[lengthBytes - MinMatchBytes - PrimaryLengths];
  return cost;
}

LzxCompressor::Choice LzxCompressor::bestAt(uint32_t position, uint32_t limitBytes,
                                            const uint32_t* repeated) {
  Choice best;
  const uint32_t literalBase = literalPrefixCost_[position - frameStart_];
  auto consider = [&](uint32_t lengthBytes, uint32_t distance, int rep, uint32_t slot) {
    int32_t literals = static_cast<int32_t>(
        literalPrefixCost_[position - frameStart_ + lengthBytes] - literalBase);
    int32_t savings = literals - matchCost(lengthBytes, slot);
    if (savings > best.savingsBits) best = {lengthBytes, distance, rep, savings};
  };
  for (int k = 0; k < 3; ++k) {
    uint32_t n = finder_.matchLength(position, repeated[k], limitBytes);
    if (n >= MinMatchBytes) consider(n, repeated[k], k, static_cast<uint32_t>(k));
  }
  size_t count = finder_.findMatches(position, limitBytes, candidates_.data());
  for (size_t i = 0; i < count; ++i) {
    const Match& m = candidates_[i];
    int rep = m.distanceBytes == repeated[0]   ? 0
              : m.distanceBytes == repeated[1] ? 1
              : m.distanceBytes == repeated[2] ? 2
                                               : -1;
    uint32_t slot = rep >= 0 ? static_cast<uint32_t>(rep) : positionSlot(m.distanceBytes + 2);
    consider(m.lengthBytes, m.distanceBytes, rep, slot);
  }
  return best;
}

void LzxCompressor::emitMatch(const Choice& choice, uint32_t* repeated) {
  uint32_t header = std::min(choice.lengthBytes - MinMatchBytes, PrimaryLengths);
  Item item;
  item.lengthSymbol = header == PrimaryLengths
                          ? static_cast<int16_t>(choice.lengthBytes - MinMatchBytes - PrimaryLengths)
                          : int16_t{-1};
  uint32_t slot;
  if (choice.repeated >= 0) {
    slot = static_cast<uint32_t>(choice.repeated);
    item.extraBits = 0;
    item.extraValue = 0;
    // The decoder swaps the used repeated offset to the front.
    std::swap(repeated[0], repeated[slot]);
  } else {
    uint32_t formatted = choice.distanceBytes + 2;
    slot = positionSlot(formatted);
    item.extraBits = ExtraBits[slot];
    item.extraValue = formatted - PositionBase[slot];
    repeated[2] = repeated[1];
    repeated[1] = repeated[0];
    repeated[0] = choice.distanceBytes;
  }
  item.mainSymbol = static_cast<uint16_t>(LiteralSymbols + slot * 8 + header);
  items_.push_back(item);
}

void LzxCompressor::parse(uint32_t start, uint32_t lengthBytes) {
  items_.clear();
  const uint32_t end = start + lengthBytes;
  uint32_t position = start;
  uint32_t visited = start;  // first position the match finder has not seen
  auto literal = [&](uint32_t at) {
    items_.push_back({finder_.bytesAt(at)[0], -1, 0, 0});
  };
  while (position < end) {
    Choice here = bestAt(position, end - position, repeated_);
    visited = position + 1;
    // Lazy evaluation: a better match one byte on wins over this one.
    while (here.lengthBytes != 0 && here.lengthBytes < NiceMatchBytes && position + 1 < end) {
      Choice next = bestAt(position + 1, end - position - 1, repeated_);
      visited = position + 2;
      if (next.savingsBits <= here.savingsBits) break;
      literal(position);
      ++position;
      here = next;
    }
    if (here.lengthBytes == 0) {
      literal(position);
      ++position;
      continue;
    }
    emitMatch(here, repeated_);
    position += here.lengthBytes;
    for (; visited < position; ++visited) finder_.skip(visited);
  }
}

void LzxCompressor::compressBlock(std::span<const uint8_t> block, bool lastBlock,
                                  std::vector<uint8_t>& out) {
  (void)lastBlock;
  const uint32_t frameBytes = static_cast<uint32_t>(block.size());
  frameStart_ = finder_.endPosition();
  frame_.assign(block.begin(), block.end());
  if (frameIndex_ < E8FrameLimit) {
    preprocessE8(frame_.data(), frameBytes, e8Offset_, E8TranslationBytes);
    e8Offset_ += frameBytes;
  }
  finder_.append(frame_.data(), frame_.size());
  finder_.setSearchDepth(previousPoor_ ? LightSearchDepth : SearchDepth);

  literalPrefixCost_.resize(frameBytes + 1);
  literalPrefixCost_[0] = 0;
  for (uint32_t i = 0; i < frameBytes; ++i)
    literalPrefixCost_[i + 1] = literalPrefixCost_[i] + mainCost_[frame_[i]];

  uint32_t startRepeated[3] = {repeated_[0], repeated_[1], repeated_[2]};
  parse(frameStart_, frameBytes);

  uint32_t mainFrequencies[MaxMainSymbols] = {};
  uint32_t lengthFrequencies[LengthSymbols] = {};
  uint32_t alignedFrequencies[AlignedSymbols] = {};
  for (const Item& item : items_) {
    ++mainFrequencies[item.mainSymbol];
    if (item.lengthSymbol >= 0) ++lengthFrequencies[item.lengthSymbol];
    if (item.extraBits >= 3) ++alignedFrequencies[item.extraValue & 7];
  }
  uint8_t mainLengths[MaxMainSymbols] = {};
  uint8_t lengthLengths[LengthSymbols];
  uint8_t alignedLengths[AlignedSymbols];
  buildCodeLengths(mainFrequencies, mainSymbols_, MaxCodeBits, mainLengths);
  buildCodeLengths(lengthFrequencies, LengthSymbols, MaxCodeBits, lengthLengths);
  buildCodeLengths(alignedFrequencies, AlignedSymbols, AlignedMaxBits, alignedLengths);

  // Cost of each block type in bits (the common E8 header and block header left out).
  std::vector<uint8_t> scratch;
  BitWriter counter(scratch);
  writeLengths(counter, mainLengths, mainLengths_, 0, LiteralSymbols, pretreeScratch_);
  writeLengths(counter, mainLengths, mainLengths_, LiteralSymbols, mainSymbols_, pretreeScratch_);
  writeLengths(counter, lengthLengths, lengthLengths_, 0, LengthSymbols, pretreeScratch_);
  uint64_t codedBits = counter.bitCount();
  uint64_t verbatimExtraBits = 0;
  uint64_t alignedExtraBits = AlignedSymbols * AlignedLengthBits;
  for (const Item& item : items_) {
    codedBits += mainLengths[item.mainSymbol];
    if (item.lengthSymbol >= 0) codedBits += lengthLengths[item.lengthSymbol];
    verbatimExtraBits += item.extraBits;
    alignedExtraBits += item.extraBits >= 3 ? item.extraBits - 3 + alignedLengths[item.extraValue & 7]
                                            : item.extraBits;
  }
  bool anyAligned = false;
  for (uint32_t f : alignedFrequencies) anyAligned |= f != 0;
  const bool useAligned = anyAligned && alignedExtraBits < verbatimExtraBits;
  uint64_t compressedBits = codedBits + std::min(verbatimExtraBits, alignedExtraBits);
  uint64_t uncompressedBits = 16 + 96 + 8 * uint64_t{frameBytes};

  if (padByteDue_) {
    out.push_back(0);
    padByteDue_ = false;
  }
  BitWriter bits(out);
  if (e8HeaderDue_) {
    bits.write(1, 1);
    bits.write(E8TranslationBytes >> 16, 16);
    bits.write(E8TranslationBytes & 0xFFFF, 16);
    e8HeaderDue_ = false;
  }
  auto writeHeader = [&](uint32_t type) {
    bits.write(type, BlockTypeBits);
    bits.write(frameBytes >> 16, 8);
    bits.write((frameBytes >> 8) & 0xFF, 8);
    bits.write(frameBytes & 0xFF, 8);
  };

  uint64_t literalCount = 0;
  for (const Item& item : items_) literalCount += item.mainSymbol < LiteralSymbols;
  previousPoor_ = literalCount * 3 > uint64_t{frameBytes} * 2;
  if (uncompressedBits <= compressedBits) {
    writeHeader(UncompressedBlock);
    bits.alignForRawBytes();
    // The decoder takes R0-R2 from this header; the parse's updates are dropped with it.
    for (uint32_t r : startRepeated)
      for (int k = 0; k < 4; ++k) out.push_back(static_cast<uint8_t>(r >> (8 * k)));
    out.insert(out.end(), frame_.begin(), frame_.end());
    std::copy(startRepeated, startRepeated + 3, repeated_);
    // The block ends with this data block; its pad byte opens the next one.
    padByteDue_ = (frameBytes & 1) != 0;
  } else {
    writeHeader(useAligned ? AlignedBlock : VerbatimBlock);
    uint16_t alignedCodes[AlignedSymbols];
    if (useAligned) {
      for (uint32_t s = 0; s < AlignedSymbols; ++s) bits.write(alignedLengths[s], AlignedLengthBits);
      buildCanonicalCodes(alignedLengths, AlignedSymbols, alignedCodes);
    }
    writeLengths(bits, mainLengths, mainLengths_, 0, LiteralSymbols, pretreeScratch_);
    writeLengths(bits, mainLengths, mainLengths_, LiteralSymbols, mainSymbols_, pretreeScratch_);
    writeLengths(bits, lengthLengths, lengthLengths_, 0, LengthSymbols, pretreeScratch_);
    uint16_t mainCodes[MaxMainSymbols];
    uint16_t lengthCodes[LengthSymbols];
    buildCanonicalCodes(mainLengths, mainSymbols_, mainCodes);
    buildCanonicalCodes(lengthLengths, LengthSymbols, lengthCodes);
    for (const Item& item : items_) {
      bits.write(mainCodes[item.mainSymbol], mainLengths[item.mainSymbol]);
      if (item.lengthSymbol >= 0)
        bits.write(lengthCodes[item.lengthSymbol], lengthLengths[item.lengthSymbol]);
      if (useAligned && item.extraBits >= 3) {
        bits.write(item.extraValue >> 3, item.extraBits - 3);
        uint32_t low = item.extraValue & 7;
        bits.write(alignedCodes[low], alignedLengths[low]);
      } else if (item.extraBits != 0) {
        bits.write(item.extraValue, item.extraBits);
      }
    }
    bits.flush();
    std::memcpy(mainLengths_, mainLengths, sizeof mainLengths_);
    std::memcpy(lengthLengths_, lengthLengths, sizeof lengthLengths_);
    updateCosts(mainLengths_, lengthLengths_);
  }
  ++frameIndex_;
}

}  // namespace

std::unique_ptr<FolderCompressor> makeLzxCompressor(int windowBits) {
  if (windowBits < static_cast<int>(MinWindowBits) || windowBits > static_cast<int>(MaxWindowBits))
    return nullptr;
  return std::make_unique<LzxCompressor>(windowBits);
}

}  // namespace pack
