// The adaptive frequency model of the Quantum coder, used alike by the decompressor and the
// packer's encoder so that both adapt in lockstep.
//
// Entries stand in an order of their own (the most frequent near the front after a
// reordering), so each entry carries its symbol. cumulative[i] is the sum of the
// frequencies of entries i to n − 1: cumulative[0] is the total, cumulative[n] is 0, and
// entry i's interval is [cumulative[i + 1], cumulative[i]).
#pragma once

#include <cstdint>
#include <utility>

#include "cabinet/quantum_constants.h"

namespace quantum {

struct QuantumModel {
  int32_t symbolCount = 0;
  int32_t rescaleCountdown = 0;
  uint16_t cumulative[MaxModelSymbols + 1] = {};
  uint8_t symbol[MaxModelSymbols] = {};

  // Every symbol in natural order with frequency 1.
  void setUp(int32_t count) {
    symbolCount = count;
    rescaleCountdown = FirstReorderCountdown;
    for (int32_t i = 0; i <= count; ++i) cumulative[i] = static_cast<uint16_t>(count - i);
    for (int32_t i = 0; i < count; ++i) symbol[i] = static_cast<uint8_t>(i);
  }

  uint32_t total() const { return cumulative[0]; }

  // The entry holding `value`; the encoder's way in.
  int32_t indexOf(int32_t value) const {
    int32_t i = 0;
    while (symbol[i] != value) ++i;
    return i;
  }

  // Records one more occurrence of entry `index`.
  void update(int32_t index) {
    for (int32_t j = 0; j <= index; ++j) cumulative[j] += ModelIncrement;
    if (cumulative[0] > RescaleAboveTotal) rescale();
  }

  void rescale() {
    if (--rescaleCountdown == 0) {
      rescaleCountdown = ReorderInterval;
      reorder();
      return;
    }
    // Halve every frequency, keeping each at least 1.
    for (int32_t j = symbolCount - 1; j >= 0; --j) {
      cumulative[j] >>= 1;
      if (cumulative[j] <= cumulative[j + 1]) cumulative[j] = cumulative[j + 1] + 1;
    }
  }

 private:
  // Halves the frequencies (rounding up) and sorts the entries by falling frequency. The
  // exchange happens only on a strictly greater frequency.
  void reorder() {
    uint16_t frequency[MaxModelSymbols];
    for (int32_t j = 0; j < symbolCount; ++j) {
      frequency[j] = static_cast<uint16_t>((cumulative[j] - cumulative[j + 1] + 1) >> 1);
    }
    for (int32_t j = 0; j < symbolCount - 1; ++j) {
      for (int32_t k = j + 1; k < symbolCount; ++k) {
        if (frequency[k] > frequency[j]) {
          std::swap(frequency[j], frequency[k]);
          std::swap(symbol[j], symbol[k]);
        }
      }
    }
    for (int32_t j = symbolCount - 1; j >= 0; --j) {
      cumulative[j] = static_cast<uint16_t>(frequency[j] + cumulative[j + 1]);
    }
  }
};

// The nine models of a folder, as the decompressor and the encoder both keep them.
struct QuantumModelSet {
  QuantumModel selector;
  QuantumModel literal[LiteralModelCount];
  QuantumModel match3Position;
  QuantumModel match4Position;
  QuantumModel longerPosition;
  QuantumModel length;

  void setUp(uint32_t windowBits) {
    selector.setUp(SelectorSymbols);
    for (QuantumModel& model : literal) model.setUp(LiteralSymbols);
    match3Position.setUp(match3PositionSlots(windowBits));
    match4Position.setUp(match4PositionSlots(windowBits));
    longerPosition.setUp(longerPositionSlots(windowBits));
    length.setUp(LengthSlotCount);
  }
};

}  // namespace quantum
