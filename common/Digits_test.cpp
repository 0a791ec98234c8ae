#include "common/Digits.h"

#include <gtest/gtest.h>

#include <limits>

namespace {

constexpr int64_t kMin = std::numeric_limits<int64_t>::min();
constexpr int64_t kMax = std::numeric_limits<int64_t>::max();

TEST(LeadingIntegerTest, ReadsLeadingNumber) {
  const struct {
    const char* text;
    int64_t expected;
  } cases[] = {
      {"", 0},
      {"abc", 0},
      {"12abc", 12},
      {"5 6", 5},
      {"1e3", 1},
      {"007", 7},
      {" 42", 42},
      {"   -7", -7},
      {"+5", 5},
      {"-7", -7},
      {"-0", 0},
      // Only U+0020 counts as a leading blank.
      {"\t5", 0},
      {"\n5", 0},
      // One sign, directly before the digits.
      {"- 5", 0},
      {"+-5", 0},
      {"--5", 0},
      {" - 5", 0},
      // Hexadecimal prefixes.
      {"$1F", 31},
      {"0x1f", 31},
      {"0X1F", 31},
      {"x10", 16},
      {"X10", 16},
      {"$fFfF", 65535},
      {"-$10", -16},
      {"+0x10", 16},
      {" 0x10", 16},
      {"0x1g2", 1},
      {"$", 0},
      {"0x", 0},
      {"0xg", 0},
      {"-x", 0},
      {"00x1", 0},
      {"$-1", 0},
      // Hex digits are not decimal digits.
      {"1f", 1},
      {"0", 0},
      // Values beyond 64 bits wrap rather than saturate or fail.
      {"9223372036854775807", kMax},
      {"9223372036854775808", kMin},
      {"-9223372036854775808", kMin},
      {"-9223372036854775807", kMin + 1},
      {"18446744073709551615", -1},
      {"18446744073709551616", 0},
      {"18446744073709551617", 1},
      {"99999999999999999999999999", -2537764290115403777},
      {"0x7FFFFFFFFFFFFFFF", kMax},
      {"0x8000000000000000", kMin},
      {"0xFFFFFFFFFFFFFFFF", -1},
      {"-0xFFFFFFFFFFFFFFFF", 1},
      {"0x10000000000000001", 1},
      {"$123456789ABCDEF0123", 5001117282205630755},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(LeadingInteger(c.text), c.expected) << "text: \"" << c.text << "\"";
  }
}

TEST(LeadingIntegerTest, LongDigitRunsAndEmbeddedZeroBytes) {
  EXPECT_EQ(LeadingInteger(std::string(100000, '0') + "12"), 12);
  EXPECT_EQ(LeadingInteger(std::string("12\0" "34", 5)), 12);
  EXPECT_EQ(LeadingInteger(std::string(5000, ' ')), 0);
}

}  // namespace
