#include "settings/ConfigNumber.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <string>

TEST(ConfigNumber, NumberShapes) {
  for (const char* text : {"0", "123", "-5", "+7", "1.5", "1.2.3", ".", "0x1F", "0xab", "-0x10", "-"}) {
    EXPECT_TRUE(IsNumberText(text, false)) << text;
  }
  for (const char* text : {"", "abc", "12a", "1e5", "0x1.5", "1 2", " 1", "0X10", "--1", "ff"}) {
    EXPECT_FALSE(IsNumberText(text, false)) << text;
  }
  EXPECT_TRUE(IsNumberText("ff", true));
}

TEST(ConfigNumber, IntegersReadUpToTheFirstOtherCharacter) {
  EXPECT_EQ(TextToInt("123"), 123);
  EXPECT_EQ(TextToInt("-45"), -45);
  EXPECT_EQ(TextToInt("+6"), 6);
  EXPECT_EQ(TextToInt("0x20"), 32);
  EXPECT_EQ(TextToInt("-0xFf"), -255);
  EXPECT_EQ(TextToInt("12.9"), 12);
  EXPECT_EQ(TextToInt("abc"), 0);
  EXPECT_EQ(TextToInt(""), 0);
  EXPECT_EQ(TextToInt("-"), 0);
}

TEST(ConfigNumber, IntegersSaturate) {
  EXPECT_EQ(TextToInt("2147483647"), 2147483647);
  EXPECT_EQ(TextToInt("2147483648"), 2147483647);
  EXPECT_EQ(TextToInt("99999999999"), 2147483647);
  EXPECT_EQ(TextToInt("-2147483648"), INT32_MIN);
  EXPECT_EQ(TextToInt("-2147483649"), INT32_MIN);
  EXPECT_EQ(TextToInt("0xFFFFFFFFFFFFFFFFFFFF"), 2147483647);
  // Far more digits than 64 bits hold: no overflow (UBSan watches), still saturated.
  EXPECT_EQ(TextToInt(std::string(400, '9')), 2147483647);
  EXPECT_EQ(TextToInt("-" + std::string(400, '9')), INT32_MIN);
}

TEST(ConfigNumber, Decimals) {
  EXPECT_DOUBLE_EQ(TextToFloat("0.456"), 0.456);
  EXPECT_DOUBLE_EQ(TextToFloat("1.2.3"), 1.23);
  EXPECT_DOUBLE_EQ(TextToFloat("-2.5"), -2.5);
  EXPECT_DOUBLE_EQ(TextToFloat("12"), 12.0);
  EXPECT_DOUBLE_EQ(TextToFloat("1.5e2"), 150.0);
  EXPECT_DOUBLE_EQ(TextToFloat("15e-1"), 1.5);
  EXPECT_DOUBLE_EQ(TextToFloat("3x"), 3.0);
  EXPECT_DOUBLE_EQ(TextToFloat(""), 0.0);
}

TEST(ConfigNumber, LongDecimalsKeepTheirScale) {
  // Digits beyond the 64-bit mantissa are dropped, not wrapped: the value keeps its magnitude.
  double big = TextToFloat("1" + std::string(40, '0'));
  EXPECT_NEAR(big / 1e40, 1.0, 1e-12);
  EXPECT_NEAR(TextToFloat("0.1234567890123456789012345678"), 0.12345678901234568, 1e-15);
  EXPECT_EQ(TextToFloat("0." + std::string(2000, '0') + "1"), 0.0);
  EXPECT_TRUE(std::isinf(TextToFloat("1e99999999999999999999")));
  EXPECT_EQ(TextToFloat("1e-99999999999999999999"), 0.0);
}

TEST(ConfigNumber, NarrowingNeverLeavesTheFloatRange) {
  EXPECT_EQ(NarrowToFloat(1e300), FLT_MAX);
  EXPECT_EQ(NarrowToFloat(-1e300), -FLT_MAX);
  EXPECT_TRUE(std::isinf(NarrowToFloat(INFINITY)));
  EXPECT_EQ(NarrowToFloat(0.5), 0.5f);
}
