// The adaptive models the decompressor and the compressor share.
#include <gtest/gtest.h>

#include <vector>

#include "cabinet/quantum_model.h"

namespace {

using quantum::QuantumModel;
using quantum::QuantumModelSet;

std::vector<uint16_t> cumulatives(const QuantumModel& model) {
  return {model.cumulative, model.cumulative + model.symbolCount + 1};
}

std::vector<uint8_t> symbols(const QuantumModel& model) {
  return {model.symbol, model.symbol + model.symbolCount};
}

TEST(QuantumModels, PositionModelSizesFollowTheWindow) {
  struct Row {
    uint32_t windowBits;
    int32_t match3, match4, longer;
  };
  const Row rows[] = {{10, 20, 20, 20}, {11, 22, 22, 22}, {12, 24, 24, 24},
                      {15, 24, 30, 30}, {18, 24, 36, 36}, {21, 24, 36, 42}};
  for (const Row& row : rows) {
    SCOPED_TRACE(row.windowBits);
    QuantumModelSet models;
    models.setUp(row.windowBits);
    EXPECT_EQ(models.match3Position.symbolCount, row.match3);
    EXPECT_EQ(models.match4Position.symbolCount, row.match4);
    EXPECT_EQ(models.longerPosition.symbolCount, row.longer);
    EXPECT_EQ(models.selector.symbolCount, 7);
    EXPECT_EQ(models.length.symbolCount, 27);
    EXPECT_EQ(models.literal[3].symbolCount, 64);
  }
}

TEST(QuantumModels, SetUpGivesEverySymbolFrequencyOneInNaturalOrder) {
  QuantumModelSet models;
  models.setUp(21);
  // Spoil a model, then set up again as a folder start does.
  for (int i = 0; i < 2000; ++i) models.longerPosition.update(41 - i % 3);
  models.setUp(21);
  const QuantumModel* all[] = {&models.selector,       &models.literal[0],     &models.literal[1],
                               &models.literal[2],     &models.literal[3],     &models.match3Position,
                               &models.match4Position, &models.longerPosition, &models.length};
  for (const QuantumModel* model : all) {
    EXPECT_EQ(model->total(), static_cast<uint32_t>(model->symbolCount));
    EXPECT_EQ(model->rescaleCountdown, 4);
    for (int32_t i = 0; i < model->symbolCount; ++i) {
      EXPECT_EQ(model->symbol[i], i);
      EXPECT_EQ(model->cumulative[i] - model->cumulative[i + 1], 1);
    }
  }
}

TEST(QuantumModels, TotalAbove3800IsHalvedKeepingEveryFrequency) {
  QuantumModel model;
  model.setUp(3);
  // Each update of entry 0 adds 8 to the total only: 3 + 8 × 474 = 3795 stays.
  for (int i = 0; i < 474; ++i) model.update(0);
  EXPECT_EQ(cumulatives(model), (std::vector<uint16_t>{3795, 2, 1, 0}));
  model.update(0);  // 3803: halved from the back, each entry kept above the next
  EXPECT_EQ(cumulatives(model), (std::vector<uint16_t>{1901, 2, 1, 0}));
  EXPECT_EQ(model.rescaleCountdown, 3);
  EXPECT_EQ(symbols(model), (std::vector<uint8_t>{0, 1, 2}));
}

TEST(QuantumModels, FourthRescaleReordersOnlyOnStrictlyGreaterFrequency) {
  QuantumModel model;
  model.setUp(4);
  // Symbol 3 alone is coded: its frequency climbs while the others stay at 1. The totals
  // pass 3800 after 475, 238, 237 and 238 updates.
  for (int i = 0; i < 475 + 238 + 237; ++i) model.update(3);
  EXPECT_EQ(cumulatives(model), (std::vector<uint16_t>{1902, 1901, 1900, 1899, 0}));
  EXPECT_EQ(symbols(model), (std::vector<uint8_t>{0, 1, 2, 3}));
  for (int i = 0; i < 237; ++i) model.update(3);
  EXPECT_EQ(model.total(), 3798u);
  model.update(3);
  // Halved rounding up: 1, 1, 1, 1902. Symbol 3 changes place with symbol 0; the equal
  // entries between them are never exchanged with each other.
  EXPECT_EQ(symbols(model), (std::vector<uint8_t>{3, 1, 2, 0}));
  EXPECT_EQ(cumulatives(model), (std::vector<uint16_t>{1905, 3, 2, 1, 0}));
  EXPECT_EQ(model.rescaleCountdown, 50);
}

}  // namespace
