#include "link/frame.h"

namespace frame {

std::uint8_t LengthChecksum(std::uint8_t length) { return static_cast<std::uint8_t>(0 - length); }

std::uint8_t DataChecksum(const std::uint8_t *data, int count) {
  std::uint8_t sum = 0;
  for (int i = 0; i < count; ++i) sum = static_cast<std::uint8_t>(sum + data[i]);
  return static_cast<std::uint8_t>(0 - sum);
}

int Encode(const std::uint8_t *data, int count, std::uint8_t *out) {
  auto length = static_cast<std::uint8_t>(count);
  out[0] = 0x00;
  out[1] = 0x00;
  out[2] = 0xFF;
  out[3] = length;
  out[4] = LengthChecksum(length);
  for (int i = 0; i < length; ++i) out[5 + i] = data[i];
  out[5 + length] = DataChecksum(data, length);
  out[6 + length] = 0x00;
  return length + kOverhead;
}

}  // namespace frame
