// The Quantum compressor of the cabinet writer: LZ77 over the folder's window with a lazy
// match choice priced by the coder's own adaptive models, items written by
// QuantumBlockWriter. The window and the models run on through the folder; every data block
// is a freshly started arithmetic code.
#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <vector>

#include "cabinet/quantum_constants.h"
#include "cabinet/quantum_model.h"
#include "pack/compressor.h"
#include "pack/match_finder.h"
#include "pack/quantum_block_writer.h"

namespace pack {
namespace {

using namespace quantum;

// Prices are in sixteenths of a bit.
constexpr uint32_t PriceOneBit = 16;

// log2 of 0 to 4095 in sixteenths of a bit; model totals stay below 3808.
const std::array<uint32_t, 4096>& log2Table() {
  static const std::array<uint32_t, 4096> table = [] {
    std::array<uint32_t, 4096> values{};
    for (size_t i = 1; i < values.size(); ++i) {
      values[i] = static_cast<uint32_t>(std::lround(std::log2(static_cast<double>(i)) * PriceOneBit));
    }
    return values;
  }();
  return table;
}

uint32_t symbolPrice(const QuantumModel& model, int32_t symbol) {
  const int32_t index = model.indexOf(symbol);
  const auto& log2 = log2Table();
  return log2[model.cumulative[0]] - log2[model.cumulative[index] - model.cumulative[index + 1]];
}

class QuantumCompressor final : public FolderCompressor {
 public:
  explicit QuantumCompressor(uint32_t windowBits)
      : windowBits_(windowBits),
        windowBytes_(1u << windowBits),
        match3ReachBytes_(PositionSlots[match3PositionSlots(windowBits) - 1].base +
                          (1u << PositionSlots[match3PositionSlots(windowBits) - 1].extraBits)),
        match4ReachBytes_(PositionSlots[match4PositionSlots(windowBits) - 1].base +
                          (1u << PositionSlots[match4PositionSlots(windowBits) - 1].extraBits)),
        finder_(windowBytes_, MaxMatchBytes, searchDepthFor(windowBits)) {
    models_.setUp(windowBits);
  }

  uint16_t compressionWord() const override {
    return static_cast<uint16_t>(static_cast<uint16_t>(Method::Quantum) | windowBits_ << 8);
  }

  void compressBlock(std::span<const uint8_t> block, bool, std::vector<uint8_t>& out) override {
    const uint32_t start = finder_.endPosition();
    const uint32_t end = start + static_cast<uint32_t>(block.size());
    finder_.append(block.data(), block.size());
    priceLiterals(block);

    QuantumBlockWriter writer(models_);
    uint32_t position = start;
    while (position < end) {
      Choice here = bestMatch(position, end, start);
      if (here.lengthBytes == 0) {
        writer.literal(block[position - start]);
        ++position;
        continue;
      }
      // Lazy choice: a literal here pays off when the match one byte on is enough better.
      while (position + 1 < end) {
        const Choice next = bestMatch(position + 1, end, start);
        if (next.lengthBytes == 0 || !laterIsCheaper(here, next, position, start)) break;
        writer.literal(block[position - start]);
        ++position;
        here = next;
      }
      writer.match(here.lengthBytes, here.distanceBytes);
      for (uint32_t skipped = visited_; skipped < position + here.lengthBytes; ++skipped) {
        finder_.skip(skipped);
      }
      visited_ = std::max(visited_, position + here.lengthBytes);
      position += here.lengthBytes;
    }
    writer.finish(out);
  }

 private:
  struct Choice {
    uint32_t lengthBytes = 0;  // 0: no match worth taking
    uint32_t distanceBytes = 0;
    uint32_t price = 0;
  };

  static int searchDepthFor(uint32_t windowBits) { return windowBits >= 16 ? 96 : 32; }

  // Literal prices of the block's bytes as prefix sums, from the models as they stand at
  // the block's start.
  void priceLiterals(std::span<const uint8_t> block) {
    uint32_t byteprice[256];
    for (uint32_t byte = 0; byte < 256; ++byte) {
      const int32_t selector = static_cast<int32_t>(byte / LiteralSymbols);
      byteprice[byte] = symbolPrice(models_.selector, selector) +
                        symbolPrice(models_.literal[selector], byte % LiteralSymbols);
    }
    literalPriceSums_.assign(block.size() + 1, 0);
    for (size_t i = 0; i < block.size(); ++i) {
      literalPriceSums_[i + 1] = literalPriceSums_[i] + byteprice[block[i]];
    }
  }

  // Price of the literals from block offset `from` up to `to`.
  uint32_t literalPrice(uint32_t from, uint32_t to) const {
    return to > from ? literalPriceSums_[to] - literalPriceSums_[from] : 0;
  }

  uint32_t matchPrice(uint32_t lengthBytes, uint32_t distanceBytes) const {
    const int32_t positionSlot = quantumPositionSlot(distanceBytes);
    const uint32_t distanceBits = PositionSlots[positionSlot].extraBits * PriceOneBit;
    if (lengthBytes == 3) {
      return symbolPrice(models_.selector, SelectorMatch3) +
             symbolPrice(models_.match3Position, positionSlot) + distanceBits;
    }
    if (lengthBytes == 4) {
      return symbolPrice(models_.selector, SelectorMatch4) +
             symbolPrice(models_.match4Position, positionSlot) + distanceBits;
    }
    const int32_t lengthSlot = quantumLengthSlot(lengthBytes);
    return symbolPrice(models_.selector, SelectorMatchLonger) +
           symbolPrice(models_.length, lengthSlot) + LengthSlots[lengthSlot].extraBits * PriceOneBit +
           symbolPrice(models_.longerPosition, positionSlot) + distanceBits;
  }

  // The match at `position` that saves the most against literals; visits the position.
  Choice bestMatch(uint32_t position, uint32_t end, uint32_t blockStart) {
    Choice best;
    if (position < visited_) return best;  // inside a match already taken
    const size_t count = finder_.findMatches(position, end - position, candidates_.data());
    visited_ = position + 1;
    int64_t bestSaving = 0;
    for (size_t i = 0; i < count; ++i) {
      const Match& match = candidates_[i];
      if (match.lengthBytes == 3 && match.distanceBytes > match3ReachBytes_) continue;
      if (match.lengthBytes == 4 && match.distanceBytes > match4ReachBytes_) continue;
      const uint32_t price = matchPrice(match.lengthBytes, match.distanceBytes);
      const uint32_t offset = position - blockStart;
      const int64_t saving =
          static_cast<int64_t>(literalPrice(offset, offset + match.lengthBytes)) - price;
      if (saving > bestSaving) {
        bestSaving = saving;
        best = {match.lengthBytes, match.distanceBytes, price};
      }
    }
    return best;
  }

  // Compares the match `here` at `position` with a literal there and the match `next` one
  // byte on, each followed by literals up to where the other one ends.
  bool laterIsCheaper(const Choice& here, const Choice& next, uint32_t position,
                      uint32_t blockStart) const {
    const uint32_t offset = position - blockStart;
    const uint32_t hereEnd = offset + here.lengthBytes;
    const uint32_t nextEnd = offset + 1 + next.lengthBytes;
    const uint32_t herePrice = here.price + literalPrice(hereEnd, nextEnd);
    const uint32_t nextPrice = literalPrice(offset, offset + 1) + next.price + literalPrice(nextEnd, hereEnd);
    return nextPrice < herePrice;
  }

  const uint32_t windowBits_;
  const uint32_t windowBytes_;
  const uint32_t match3ReachBytes_;  // farthest distance a 3-byte match can be coded with
  const uint32_t match4ReachBytes_;
  MatchFinder finder_;
  QuantumModelSet models_;
  uint32_t visited_ = 0;  // first position the finder has not seen
  std::vector<uint32_t> literalPriceSums_;
  std::array<Match, MaxMatchBytes + 1> candidates_{};
};

}  // namespace

std::unique_ptr<FolderCompressor> makeQuantumCompressor(int windowBits) {
  if (windowBits < static_cast<int>(MinWindowBits) || windowBits > static_cast<int>(MaxWindowBits)) {
    return nullptr;
  }
  return std::make_unique<QuantumCompressor>(static_cast<uint32_t>(windowBits));
}

}  // namespace pack
