// The numbers of every command line, kind by kind. Expected values are
// worked out by hand from the texts.
#include <cstdint>
#include <optional>
#include <string>

#include <gtest/gtest.h>

#include "poll/number_text.h"

namespace {

using namespace numtext;

// Texts no kind of number accepts: signs, spaces, base prefixes, exponents,
// words of floating-point input, and digits of other scripts.
const char *const kNeverNumbers[] = {"",      "-1",  "+1",  " 1",  "1 ",   "0x10",    "1e2",
                                     "12abc", "inf", "nan", "1,5", "\xB9", "\xD9\xA1"};

TEST(NumberTextTest, DigitTests) {
  EXPECT_TRUE(AllDigits(""));
  EXPECT_TRUE(AllDigits("0123456789"));
  EXPECT_FALSE(AllDigits("12a"));
  EXPECT_FALSE(AllDigits("\xB9"));  // superscript one in Latin-1
  EXPECT_TRUE(AllHexDigits("09afAF"));
  EXPECT_FALSE(AllHexDigits("0g"));
  EXPECT_EQ(HexDigit('0'), 0);
  EXPECT_EQ(HexDigit('9'), 9);
  EXPECT_EQ(HexDigit('a'), 10);
  EXPECT_EQ(HexDigit('F'), 15);
  EXPECT_EQ(HexDigit('g'), -1);
  EXPECT_EQ(HexDigit('\0'), -1);
}

TEST(NumberTextTest, ToolDecimalIsDigitsOnlyEmptyIsZeroAndLargeIsHeld) {
  EXPECT_EQ(ParseToolDecimal("", nullptr), 0);
  EXPECT_EQ(ParseToolDecimal("0", nullptr), 0);
  EXPECT_EQ(ParseToolDecimal("0007", nullptr), 7);
  EXPECT_EQ(ParseToolDecimal("115200", nullptr), 115200);
  EXPECT_EQ(ParseToolDecimal("2147483647", nullptr), 2147483647);
  EXPECT_EQ(ParseToolDecimal("2147483648", nullptr), 2147483647);
  EXPECT_EQ(ParseToolDecimal("99999999999999999999999999999", nullptr), 2147483647);
  for (const char *bad : kNeverNumbers) {
    if (*bad == '\0') continue;  // empty is 0 for the tools
    std::string why;
    EXPECT_EQ(ParseToolDecimal(bad, &why), std::nullopt) << bad;
    EXPECT_EQ(why, "a decimal number is expected: the digits 0 to 9 only");
  }
}

TEST(NumberTextTest, WholeNumberWithinItsRange) {
  EXPECT_EQ(ParseWholeNumber("1", 1, 3600, nullptr), 1u);
  EXPECT_EQ(ParseWholeNumber("3600", 1, 3600, nullptr), 3600u);
  EXPECT_EQ(ParseWholeNumber("007", 0, 10, nullptr), 7u);
  EXPECT_EQ(ParseWholeNumber("4294967295", 0, 4294967295u, nullptr), 4294967295u);
  EXPECT_EQ(ParseWholeNumber("18446744073709551615", 0, UINT64_MAX, nullptr), UINT64_MAX);
  std::string why;
  for (const char *bad :
       {"0", "3601", "36010", "18446744073709551616", "99999999999999999999999"}) {
    EXPECT_EQ(ParseWholeNumber(bad, 1, 3600, &why), std::nullopt) << bad;
    EXPECT_EQ(why, "a whole number from 1 to 3600 is expected");
  }
  EXPECT_EQ(ParseWholeNumber("18446744073709551616", 0, UINT64_MAX, nullptr), std::nullopt);
  EXPECT_EQ(ParseWholeNumber("5", 0, 0, nullptr), std::nullopt);
  EXPECT_EQ(ParseWholeNumber("0", 0, 0, nullptr), 0u);
  for (const char *bad : kNeverNumbers)
    EXPECT_EQ(ParseWholeNumber(bad, 0, 100, nullptr), std::nullopt) << bad;
}

TEST(NumberTextTest, HexBytesAreExactlyTwoDigitsEach) {
  std::uint8_t key[8] = {};
  EXPECT_TRUE(ParseHexBytes("0123456789abcDEF", key, 8, nullptr));
  const std::uint8_t expected[8] = {0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF};
  for (int i = 0; i < 8; ++i) EXPECT_EQ(key[i], expected[i]) << i;
  std::string why;
  for (const char *bad : {"", "0123456789abcde", "0123456789abcdef0", "0123456789abcdeg",
                          " 123456789abcdef", "0x23456789abcdef"}) {
    std::uint8_t untouched[8] = {7, 7, 7, 7, 7, 7, 7, 7};
    EXPECT_FALSE(ParseHexBytes(bad, untouched, 8, &why)) << bad;
    EXPECT_EQ(why, "16 hexadecimal digits are expected");
    EXPECT_EQ(untouched[0], 7) << "written on a refusal: " << bad;
  }
}

TEST(NumberTextTest, DecimalFractionsAndProbabilities) {
  EXPECT_EQ(ParseDecimalFraction("12", nullptr), 12.0);
  EXPECT_EQ(ParseDecimalFraction("0.75", nullptr), 0.75);
  EXPECT_EQ(ParseDecimalFraction(".5", nullptr), 0.5);
  EXPECT_EQ(ParseDecimalFraction("5.", nullptr), 5.0);
  EXPECT_EQ(ParseDecimalFraction("007.250", nullptr), 7.25);
  for (const char *bad : {".", "1.2.3", "1..2", "0x1p3", "-0", "1e-1", "1.5e0"})
    EXPECT_EQ(ParseDecimalFraction(bad, nullptr), std::nullopt) << bad;
  for (const char *bad : kNeverNumbers)
    EXPECT_EQ(ParseDecimalFraction(bad, nullptr), std::nullopt) << bad;
  // Beyond a double's range: refused, not infinite.
  EXPECT_EQ(ParseDecimalFraction("1" + std::string(400, '0'), nullptr), std::nullopt);

  EXPECT_EQ(ParseProbability("0", nullptr), 0.0);
  EXPECT_EQ(ParseProbability("1", nullptr), 1.0);
  EXPECT_EQ(ParseProbability("1.000", nullptr), 1.0);
  EXPECT_EQ(ParseProbability(".9", nullptr), 0.9);
  std::string why;
  for (const char *bad : {"1.0001", "2", "p", "-0.5", "1e-1"}) {
    EXPECT_EQ(ParseProbability(bad, &why), std::nullopt) << bad;
    EXPECT_EQ(why, "a probability from 0 to 1 such as 0.75 is expected");
  }
}

// The gate's rate: strictly between 0 and 100, where a tiny step past
// either end is still refused.
TEST(NumberTextTest, RequiredRateLiesStrictlyBetweenZeroAndHundred) {
  EXPECT_EQ(ParseRequiredRate("99", nullptr), 99.0);
  EXPECT_EQ(ParseRequiredRate("99.5", nullptr), 99.5);
  EXPECT_EQ(ParseRequiredRate("0.0001", nullptr), 0.0001);
  EXPECT_EQ(ParseRequiredRate("99.9999", nullptr), 99.9999);
  EXPECT_EQ(ParseRequiredRate(".5", nullptr), 0.5);
  EXPECT_EQ(ParseRequiredRate("99.", nullptr), 99.0);
  std::string why;
  for (const char *bad : {"0", "0.0", "000", "100", "100.0", "100.0001", "101", "1e2", "99%"}) {
    EXPECT_EQ(ParseRequiredRate(bad, &why), std::nullopt) << bad;
    EXPECT_EQ(why, "a rate in percent above 0 and below 100 such as 99 or 99.5 is expected");
  }
  for (const char *bad : kNeverNumbers)
    EXPECT_EQ(ParseRequiredRate(bad, nullptr), std::nullopt) << bad;
}

TEST(NumberTextTest, DurationsWithUnitsAndBareSeconds) {
  const std::uint64_t kWeek = 7 * 86400;
  EXPECT_EQ(ParseDuration("90s", 1, kWeek, nullptr), 90u);
  EXPECT_EQ(ParseDuration("30m", 1, kWeek, nullptr), 1800u);
  EXPECT_EQ(ParseDuration("12h", 1, kWeek, nullptr), 43200u);
  EXPECT_EQ(ParseDuration("2d", 1, kWeek, nullptr), 172800u);
  EXPECT_EQ(ParseDuration("45", 1, kWeek, nullptr), 45u);
  EXPECT_EQ(ParseDuration("007m", 1, kWeek, nullptr), 420u);
  EXPECT_EQ(ParseDuration("7d", 1, kWeek, nullptr), kWeek);
  std::string why;
  for (const char *bad :
       {"0", "0s", "8d", "169h", "604801", "s", "m", "1x", "1.5h", "1S", "1 s", "1h30m", "-1s",
        "+1s", "99999999999999999999999d", "18446744073709551615d"}) {
    EXPECT_EQ(ParseDuration(bad, 1, kWeek, &why), std::nullopt) << bad;
    EXPECT_EQ(why,
              "a duration from 1s to 7d such as 90s, 30m, 12h or 2d is expected (digits alone "
              "are seconds)")
        << bad;
  }
  for (const char *bad : kNeverNumbers)
    EXPECT_EQ(ParseDuration(bad, 0, kWeek, nullptr), std::nullopt) << bad;
  EXPECT_EQ(ParseDuration("0", 0, kWeek, nullptr), 0u);
}

TEST(NumberTextTest, DurationTextTakesTheLargestWholeUnit) {
  EXPECT_EQ(DurationText(0), "0s");
  EXPECT_EQ(DurationText(59), "59s");
  EXPECT_EQ(DurationText(60), "1m");
  EXPECT_EQ(DurationText(90), "90s");
  EXPECT_EQ(DurationText(5400), "90m");
  EXPECT_EQ(DurationText(3600), "1h");
  EXPECT_EQ(DurationText(90000), "25h");
  EXPECT_EQ(DurationText(172800), "2d");
}

}  // namespace
