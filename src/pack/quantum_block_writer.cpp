#include "pack/quantum_block_writer.h"

#include <bit>

#include "cabinet/quantum_constants.h"

namespace pack {

using namespace quantum;

int32_t quantumPositionSlot(uint32_t distanceBytes) {
  const uint32_t value = distanceBytes - 1;
  if (value < 4) return static_cast<int32_t>(value);
  // Two slots per power of two: the top bit gives the pair, the bit below it the half.
  const int32_t topBit = std::bit_width(value) - 1;
  return 2 * topBit + static_cast<int32_t>((value >> (topBit - 1)) & 1);
}

int32_t quantumLengthSlot(uint32_t lengthBytes) {
  const uint32_t value = lengthBytes - LongerMatchOffset;
  int32_t slot = LengthSlotCount - 1;
  while (LengthSlots[slot].base > value) --slot;
  return slot;
}

void QuantumBlockWriter::literal(uint8_t byte) {
  const int32_t selector = byte / LiteralSymbols;
  encodeSymbol(models_.selector, selector);
  encodeSymbol(models_.literal[selector], byte % LiteralSymbols);
}

void QuantumBlockWriter::match(uint32_t lengthBytes, uint32_t distanceBytes) {
  const int32_t positionSlot = quantumPositionSlot(distanceBytes);
  if (lengthBytes == 3) {
    encodeSymbol(models_.selector, SelectorMatch3);
    encodeSymbol(models_.match3Position, positionSlot);
  } else if (lengthBytes == 4) {
    encodeSymbol(models_.selector, SelectorMatch4);
    encodeSymbol(models_.match4Position, positionSlot);
  } else {
    const int32_t lengthSlot = quantumLengthSlot(lengthBytes);
    encodeSymbol(models_.selector, SelectorMatchLonger);
    encodeSymbol(models_.length, lengthSlot);
    rawBits(lengthBytes - LongerMatchOffset - LengthSlots[lengthSlot].base,
            LengthSlots[lengthSlot].extraBits);
    encodeSymbol(models_.longerPosition, positionSlot);
  }
  rawBits(distanceBytes - 1 - PositionSlots[positionSlot].base,
          PositionSlots[positionSlot].extraBits);
}

void QuantumBlockWriter::encodeSymbol(QuantumModel& model, int32_t symbol) {
  const int32_t index = model.indexOf(symbol);
  const uint32_t total = model.cumulative[0];
  const uint32_t range = high_ - low_ + 1;
  const uint32_t base = low_;
  high_ = (base + (range * model.cumulative[index]) / total - 1) & 0xFFFF;
  low_ = (base + (range * model.cumulative[index + 1]) / total) & 0xFFFF;
  renormalise();
  model.update(index);
}

void QuantumBlockWriter::rawBits(uint32_t value, uint32_t countBits) {
  if (countBits == 0) return;
  // The decompressor reads this field after the 16 bits in its register and every bit it
  // has shifted in since.
  rawFields_.push_back({16 + shifts_, value, countBits});
}

void QuantumBlockWriter::putCoderBit(uint32_t bit) {
  coderBits_.push_back(static_cast<uint8_t>(bit));
  for (; pendingBits_ > 0; --pendingBits_) coderBits_.push_back(static_cast<uint8_t>(bit ^ 1));
}

// The decompressor's renormalisation, step for step: each shift there reads one coder bit.
void QuantumBlockWriter::renormalise() {
  for (;;) {
    if (((low_ ^ high_) & 0x8000) == 0) {
      putCoderBit(low_ >> 15);
    } else if ((low_ & 0x4000) != 0 && (high_ & 0x4000) == 0) {
      // The interval straddles the middle: the bit is decided later, opposite to the next.
      ++pendingBits_;
      low_ &= 0x3FFF;
      high_ |= 0x4000;
    } else {
      return;
    }
    low_ = (low_ << 1) & 0xFFFF;
    high_ = ((high_ << 1) | 1) & 0xFFFF;
    ++shifts_;
  }
}

void QuantumBlockWriter::finish(std::vector<uint8_t>& out) {
  // The code value is low itself: its 16 bits fill the decompressor's register exactly
  // after its last shift, with nothing wanted beyond.
  putCoderBit(low_ >> 15);
  for (int32_t bit = 14; bit >= 0; --bit) coderBits_.push_back((low_ >> bit) & 1);

  uint32_t currentByte = 0;
  uint32_t bitsInByte = 0;
  auto put = [&](uint32_t bit) {
    currentByte = (currentByte << 1) | bit;
    if (++bitsInByte == 8) {
      out.push_back(static_cast<uint8_t>(currentByte));
      currentByte = 0;
      bitsInByte = 0;
    }
  };
  size_t nextField = 0;
  auto putFieldsAt = [&](uint32_t coderBitIndex) {
    for (; nextField < rawFields_.size() && rawFields_[nextField].coderBitIndex == coderBitIndex;
         ++nextField) {
      const RawField& field = rawFields_[nextField];
      for (int32_t bit = static_cast<int32_t>(field.countBits) - 1; bit >= 0; --bit) {
        put((field.value >> bit) & 1);
      }
    }
  };
  for (uint32_t index = 0; index < coderBits_.size(); ++index) {
    putFieldsAt(index);
    put(coderBits_[index]);
  }
  putFieldsAt(static_cast<uint32_t>(coderBits_.size()));
  if (bitsInByte > 0) out.push_back(static_cast<uint8_t>(currentByte << (8 - bitsInByte)));
}

}  // namespace pack
