// The numbers of every command line, kind by kind. Expected values are
// worked out by hand from the texts.
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "poll/number_text.h"

namespace {

using namespace numtext;

// Texts no kind of number accepts: signs, spaces, base prefixes, exponents,
// words of floating-point input, and digits of other scripts (a superscript
// one in Latin-1, an Arabic-Indic one in UTF-8).
const std::vector<std::string> kNeverNumbers = {
    "", "-1", "+1", " 1", "1 ", "0x10", "1e2", "12abc", "inf", "nan", "1,5", "\xB9", "\xD9\xA1"};

// Each text gives its value.
template <typename T, typename Parse>
void ExpectValues(Parse parse, const std::vector<std::pair<std::string, T>> &cases) {
  for (const auto &[text, value] : cases) EXPECT_EQ(parse(text, nullptr), value) << text;
}

// Each text is refused with the reason given (none: any reason).
template <typename Parse>
void ExpectRefused(Parse parse, const std::vector<std::string> &texts, const std::string &reason) {
  for (const std::string &text : texts) {
    std::string why;
    EXPECT_EQ(parse(text, &why), std::nullopt) << text;
    if (!reason.empty()) {
      EXPECT_EQ(why, reason) << text;
    }
  }
}

TEST(NumberTextTest, HexDigitIsMinusOneForOtherCharacters) {
  EXPECT_EQ(HexDigit('F'), 15);
  EXPECT_EQ(HexDigit('g'), -1);
  EXPECT_EQ(HexDigit('\0'), -1);
  EXPECT_FALSE(AllDigits("\xB9"));  // whatever the locale
}

TEST(NumberTextTest, ToolDecimalIsDigitsOnlyEmptyIsZeroAndLargeIsHeld) {
  ExpectValues<std::int32_t>(ParseToolDecimal, {{"", 0},
                                                {"0", 0},
                                                {"0007", 7},
                                                {"115200", 115200},
                                                {"2147483647", 2147483647},
                                                {"2147483648", 2147483647},
                                                {"99999999999999999999999999999", 2147483647}});
  std::vector<std::string> bad(kNeverNumbers.begin() + 1, kNeverNumbers.end());  // not ""
  ExpectRefused(ParseToolDecimal, bad, "a decimal number is expected: the digits 0 to 9 only");
}

TEST(NumberTextTest, WholeNumberWithinItsRange) {
  auto upTo3600 = [](const std::string &text, std::string *why) {
    return ParseWholeNumber(text, 1, 3600, why);
  };
  ExpectValues<std::uint64_t>(upTo3600, {{"1", 1}, {"3600", 3600}, {"0007", 7}});
  ExpectRefused(upTo3600, {"0", "3601", "36010", "18446744073709551616", "99999999999999999999999"},
                "a whole number from 1 to 3600 is expected");
  ExpectRefused(upTo3600, kNeverNumbers, "");
  EXPECT_EQ(ParseWholeNumber("18446744073709551615", 0, UINT64_MAX, nullptr), UINT64_MAX);
  EXPECT_EQ(ParseWholeNumber("18446744073709551616", 0, UINT64_MAX, nullptr), std::nullopt);
  EXPECT_EQ(ParseWholeNumber("0", 0, 0, nullptr), 0u);
  EXPECT_EQ(ParseWholeNumber("5", 0, 0, nullptr), std::nullopt);
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
  ExpectValues<double>(ParseDecimalFraction,
                       {{"12", 12.0}, {"0.75", 0.75}, {".5", 0.5}, {"5.", 5.0}, {"007.250", 7.25}});
  ExpectRefused(ParseDecimalFraction, {".", "1.2.3", "1..2", "0x1p3", "-0", "1e-1", "1.5e0"},
                "a decimal number such as 12 or 0.75 is expected");
  ExpectRefused(ParseDecimalFraction, kNeverNumbers, "");
  // Beyond a double's range: refused, not infinite.
  EXPECT_EQ(ParseDecimalFraction("1" + std::string(400, '0'), nullptr), std::nullopt);

  ExpectValues<double>(ParseProbability, {{"0", 0.0}, {"1", 1.0}, {"1.000", 1.0}, {".9", 0.9}});
  ExpectRefused(ParseProbability, {"1.0001", "2", "p", "-0.5", "1e-1"},
                "a probability from 0 to 1 such as 0.75 is expected");
}

// The gate's rate: strictly between 0 and 100, where a tiny step past
// either end is still refused.
TEST(NumberTextTest, RequiredRateLiesStrictlyBetweenZeroAndHundred) {
  ExpectValues<double>(ParseRequiredRate, {{"99", 99.0},
                                           {"99.5", 99.5},
                                           {"0.0001", 0.0001},
                                           {"99.9999", 99.9999},
                                           {".5", 0.5},
                                           {"99.", 99.0}});
  ExpectRefused(ParseRequiredRate,
                {"0", "0.0", "000", "100", "100.0", "100.0001", "101", "1e2", "99%"},
                "a rate in percent above 0 and below 100 such as 99 or 99.5 is expected");
  ExpectRefused(ParseRequiredRate, kNeverNumbers, "");
}

TEST(NumberTextTest, DurationsWithUnitsAndBareSeconds) {
  const std::uint64_t kWeek = 7 * 86400;
  auto upToAWeek = [&](const std::string &text, std::string *why) {
    return ParseDuration(text, 1, kWeek, why);
  };
  ExpectValues<std::uint64_t>(upToAWeek, {{"90s", 90},
                                          {"30m", 1800},
                                          {"12h", 43200},
                                          {"2d", 172800},
                                          {"45", 45},
                                          {"007m", 420},
                                          {"7d", kWeek}});
  ExpectRefused(upToAWeek,
                {"0", "0s", "8d", "169h", "604801", "s", "m", "1x", "1.5h", "1S", "1 s", "1h30m",
                 "-1s", "+1s", "99999999999999999999999d", "18446744073709551615d"},
                "a duration from 1s to 7d such as 90s, 30m, 12h or 2d is expected (digits alone "
                "are seconds)");
  ExpectRefused(upToAWeek, kNeverNumbers, "");
  EXPECT_EQ(ParseDuration("0", 0, kWeek, nullptr), 0u);
}

TEST(NumberTextTest, DurationTextTakesTheLargestWholeUnit) {
  const std::pair<std::uint64_t, const char *> cases[] = {
      {0, "0s"},     {59, "59s"},  {60, "1m"},     {90, "90s"},
      {5400, "90m"}, {3600, "1h"}, {90000, "25h"}, {172800, "2d"}};
  for (const auto &[seconds, text] : cases) EXPECT_EQ(DurationText(seconds), text) << seconds;
}

}  // namespace
