// Numbers as people write them on a command line or in a plan: one set of
// rules for every program, each kind read by its own function. A refusal
// comes with the reason in words ("... is expected"), which the caller puts
// into its own message.
//
// Digits are the ASCII digits 0 to 9 whatever the locale; no kind accepts a
// sign, a space, a base prefix, an exponent, "inf" or "nan".
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace numtext {

// True when every character is a digit 0 to 9 (also for an empty text).
bool AllDigits(std::string_view text);
// True when every character is a hexadecimal digit (also for an empty text).
bool AllHexDigits(std::string_view text);
// 0 to 15 for a hexadecimal digit in either case, -1 for anything else.
int HexDigit(char digit);

// The polling tools' decimal value: digits only; an empty text is 0 and a
// value above 2147483647 is held at 2147483647.
std::optional<std::int32_t> ParseToolDecimal(std::string_view text, std::string *why);

// A whole number from `min` to `max` (0 <= min <= max): one digit or more,
// leading zeros allowed.
std::optional<std::uint64_t> ParseWholeNumber(std::string_view text, std::uint64_t min,
                                              std::uint64_t max, std::string *why);

// Exactly 2 * `count` hexadecimal digits in either case, giving `count`
// bytes in reading order, high half first. `out` is written only on
// success.
bool ParseHexBytes(std::string_view text, std::uint8_t *out, std::size_t count, std::string *why);

// A decimal fraction: digits with at most one point, at least one digit
// ("99", "99.5", ".5", "99.").
std::optional<double> ParseDecimalFraction(std::string_view text, std::string *why);

// A probability: a decimal fraction from 0 to 1, both included.
std::optional<double> ParseProbability(std::string_view text, std::string *why);

// A success rate that a test must show, in percent: a decimal fraction
// strictly above 0 (which every result passes) and strictly below 100
// (which no interval's lower bound ever reaches, so a gate could only fail
// or stay undecided). The same for a rate to plan a test for.
std::optional<double> ParseRequiredRate(std::string_view text, std::string *why);

// A duration in whole seconds: digits followed by one unit, s (seconds), m
// (minutes), h (hours) or d (days), as in 90s, 30m, 12h, 2d; digits alone
// are seconds. Accepted from `minSeconds` to `maxSeconds`.
std::optional<std::uint64_t> ParseDuration(std::string_view text, std::uint64_t minSeconds,
                                           std::uint64_t maxSeconds, std::string *why);

// A duration as the largest unit that divides it: 90s, 30m, 1h, 2d.
std::string DurationText(std::uint64_t seconds);

}  // namespace numtext
