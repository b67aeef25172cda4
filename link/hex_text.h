// Bytes written as hexadecimal digits: the event log's frames and escapes,
// the simulator's trace, key check values and the tests' expectations all
// show bytes through these two functions.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace hex {

enum class Letters { kUpper, kLower };

// Appends the two digits of `byte`, high nibble first.
inline void AppendByte(std::string &out, std::uint8_t byte, Letters letters = Letters::kUpper) {
  const char *digits = letters == Letters::kUpper ? "0123456789ABCDEF" : "0123456789abcdef";
  out += digits[byte >> 4];
  out += digits[byte & 15];
}

// `count` bytes as pairs of upper-case digits with `separator` between
// pairs: "01 2E 4C" with the default, "012E4C" with "".
inline std::string Format(const std::uint8_t *bytes, std::size_t count,
                          std::string_view separator = " ") {
  std::string out;
  out.reserve(count * (2 + separator.size()));
  for (std::size_t i = 0; i < count; ++i) {
    if (i) out += separator;
    AppendByte(out, bytes[i]);
  }
  return out;
}

}  // namespace hex
