#include "poll/number_text.h"

#include <charconv>
#include <cstdint>
#include <limits>
#include <utility>

namespace numtext {

namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// The value of a text of digits only, or nothing when it exceeds `max`.
std::optional<std::uint64_t> DigitsValue(std::string_view digits, std::uint64_t max) {
  std::uint64_t value = 0;
  for (char c : digits) {
    auto digit = static_cast<std::uint64_t>(c - '0');
    if (digit > max || value > (max - digit) / 10) return std::nullopt;
    value = value * 10 + digit;
  }
  return value;
}

void SetWhy(std::string *why, std::string reason) {
  if (why) *why = std::move(reason);
}

// Sets the reason and gives nothing, for the refusals' one-line returns.
template <typename T>
std::optional<T> Refuse(std::string *why, std::string reason) {
  SetWhy(why, std::move(reason));
  return std::nullopt;
}

// The decimal fraction's value, without a reason: the callers say what they
// expect of it.
std::optional<double> FractionValue(std::string_view text) {
  std::size_t digits = 0, points = 0;
  for (char c : text) {
    if (IsDigit(c)) {
      ++digits;
    } else if (c == '.') {
      ++points;
    } else {
      return std::nullopt;
    }
  }
  if (digits == 0 || points > 1) return std::nullopt;
  double value = 0;
  auto [end, error] =
      std::from_chars(text.data(), text.data() + text.size(), value, std::chars_format::fixed);
  if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return value;
}

// The seconds of one duration unit, 0 for a character that is none.
std::uint64_t UnitSeconds(char unit) {
  switch (unit) {
    case 's': return 1;
    case 'm': return 60;
    case 'h': return 3600;
    case 'd': return 86400;
    default: return 0;
  }
}

}  // namespace

bool AllDigits(std::string_view text) {
  for (char c : text) {
    if (!IsDigit(c)) return false;
  }
  return true;
}

bool AllHexDigits(std::string_view text) {
  for (char c : text) {
    if (HexDigit(c) < 0) return false;
  }
  return true;
}

int HexDigit(char digit) {
  if (digit >= '0' && digit <= '9') return digit - '0';
  if (digit >= 'A' && digit <= 'F') return digit - 'A' + 10;
  if (digit >= 'a' && digit <= 'f') return digit - 'a' + 10;
  return -1;
}

std::optional<std::int32_t> ParseToolDecimal(std::string_view text, std::string *why) {
  if (!AllDigits(text))
    return Refuse<std::int32_t>(why, "a decimal number is expected: the digits 0 to 9 only");
  constexpr std::uint64_t kLargest = std::numeric_limits<std::int32_t>::max();
  // Held at the largest value, however many digits follow.
  std::optional<std::uint64_t> value = DigitsValue(text, kLargest);
  return static_cast<std::int32_t>(value ? *value : kLargest);
}

std::optional<std::uint64_t> ParseWholeNumber(std::string_view text, std::uint64_t min,
                                              std::uint64_t max, std::string *why) {
  std::optional<std::uint64_t> value;
  if (!text.empty() && AllDigits(text)) value = DigitsValue(text, max);
  if (!value || *value < min) {
    return Refuse<std::uint64_t>(why, "a whole number from " + std::to_string(min) + " to " +
                                          std::to_string(max) + " is expected");
  }
  return value;
}

bool ParseHexBytes(std::string_view text, std::uint8_t *out, std::size_t count, std::string *why) {
  if (text.size() != 2 * count || !AllHexDigits(text)) {
    SetWhy(why, std::to_string(2 * count) + " hexadecimal digits are expected");
    return false;
  }
  for (std::size_t j = 0; j < count; ++j)
    out[j] = static_cast<std::uint8_t>(16 * HexDigit(text[2 * j]) + HexDigit(text[2 * j + 1]));
  return true;
}

std::optional<double> ParseDecimalFraction(std::string_view text, std::string *why) {
  std::optional<double> value = FractionValue(text);
  if (!value) return Refuse<double>(why, "a decimal number such as 12 or 0.75 is expected");
  return value;
}

std::optional<double> ParseProbability(std::string_view text, std::string *why) {
  std::optional<double> value = FractionValue(text);
  if (!value || *value > 1)
    return Refuse<double>(why, "a probability from 0 to 1 such as 0.75 is expected");
  return value;
}

std::optional<double> ParseRequiredRate(std::string_view text, std::string *why) {
  std::optional<double> value = FractionValue(text);
  if (!value || !(*value > 0 && *value < 100)) {
    return Refuse<double>(why,
                          "a rate in percent above 0 and below 100 such as 99 or 99.5 is expected");
  }
  return value;
}

std::optional<std::uint64_t> ParseDuration(std::string_view text, std::uint64_t minSeconds,
                                           std::uint64_t maxSeconds, std::string *why) {
  std::uint64_t unit = 1;
  std::string_view digits = text;
  if (!text.empty() && !IsDigit(text.back())) {
    unit = UnitSeconds(text.back());
    digits.remove_suffix(1);
  }
  std::optional<std::uint64_t> count;
  if (unit != 0 && !digits.empty() && AllDigits(digits)) count = DigitsValue(digits, maxSeconds);
  if (!count || *count > maxSeconds / unit || *count * unit < minSeconds) {
    return Refuse<std::uint64_t>(
        why, "a duration from " + DurationText(minSeconds) + " to " + DurationText(maxSeconds) +
                 " such as 90s, 30m, 12h or 2d is expected (digits alone are seconds)");
  }
  return *count * unit;
}

std::string DurationText(std::uint64_t seconds) {
  for (char unit : {'d', 'h', 'm'}) {
    std::uint64_t size = UnitSeconds(unit);
    if (seconds != 0 && seconds % size == 0) return std::to_string(seconds / size) + unit;
  }
  return std::to_string(seconds) + "s";
}

}  // namespace numtext
