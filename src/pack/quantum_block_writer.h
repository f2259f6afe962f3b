// Writes the items of one Quantum data block: symbols through a 16-bit arithmetic coder
// over the folder's adaptive models, extra bits raw, all in the one bit sequence the
// decompressor reads.
//
// The decompressor holds 16 bits of the code ahead in its code register, so a raw field it
// reads lands 16 coder bits after the coder position it was written at. The writer keeps
// the coder bits and the raw fields apart and merges them when the block is finished.
#pragma once

#include <cstdint>
#include <vector>

#include "cabinet/quantum_model.h"

namespace pack {

class QuantumBlockWriter {
 public:
  // `models` run on through the folder; the writer updates them as the decoder will.
  explicit QuantumBlockWriter(quantum::QuantumModelSet& models) : models_(models) {}

  void literal(uint8_t byte);
  // `lengthBytes` 3 to 259; `distanceBytes` 1 to the window size, and within the reach of
  // the match-3 or match-4 position model for lengths 3 and 4.
  void match(uint32_t lengthBytes, uint32_t distanceBytes);

  // The building blocks of items, for writing any sequence the format allows.
  void encodeSymbol(quantum::QuantumModel& model, int32_t symbol);
  void rawBits(uint32_t value, uint32_t countBits);

  // Ends the code so that the decompressor needs no bit past the block's last byte, and
  // appends the block's bytes to `out`. The writer is then spent.
  void finish(std::vector<uint8_t>& out);

  quantum::QuantumModelSet& models() { return models_; }

 private:
  struct RawField {
    uint32_t coderBitIndex;  // the field goes before this coder bit
    uint32_t value;
    uint32_t countBits;
  };

  void putCoderBit(uint32_t bit);
  void renormalise();

  quantum::QuantumModelSet& models_;
  uint32_t low_ = 0;
  uint32_t high_ = 0xFFFF;
  uint32_t pendingBits_ = 0;  // undecided bits, each the opposite of the next decided one
  uint32_t shifts_ = 0;       // coder bits the decompressor has read beyond its first 16
  std::vector<uint8_t> coderBits_;  // one bit per element
  std::vector<RawField> rawFields_;
};

// Position slot of a match distance (distance − 1 in the slot's range).
int32_t quantumPositionSlot(uint32_t distanceBytes);
// Length slot of a match of 5 to 259 bytes.
int32_t quantumLengthSlot(uint32_t lengthBytes);

}  // namespace pack
