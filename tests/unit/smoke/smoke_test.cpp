#include <gtest/gtest.h>
#include "cabinet/callbacks.h"
TEST(Smoke, Builds) { EXPECT_EQ(cab::MaxBlockBytes, 32768u); }
