// The frame format shared by host and R/W:
//   00h | 00h FFh | LEN | LCS | data (LEN bytes) | DCS | 00h
// LEN + LCS = 0 and the data plus DCS sum to 0 (mod 256). An acknowledgement
// is 00h 00h FFh 00h FFh 00h.
#pragma once

#include <cstdint>

namespace frame {

constexpr int kOverhead = 7;
constexpr int kMaxData = 255;
constexpr int kMaxFrame = kMaxData + kOverhead;
constexpr std::uint8_t kAck[6] = {0x00, 0x00, 0xFF, 0x00, 0xFF, 0x00};

std::uint8_t LengthChecksum(std::uint8_t length);
std::uint8_t DataChecksum(const std::uint8_t *data, int count);

// Writes the frame of `count` data bytes (0..255) into `out`, which holds at
// least count + 7 bytes. Returns the frame length.
int Encode(const std::uint8_t *data, int count, std::uint8_t *out);

}  // namespace frame

// Results of a frame exchange.
enum ExchangeResult : int {
  kExchangeOk = 0,         // a data frame with good checksums
  kExchangeGotAck = 1,     // an acknowledgement (where the response belonged)
  kExchangeTimeout = 2,    // a read failed or timed out
  kExchangeNoAck = 3,      // the first frame after the command was no ACK
  kExchangeBadFrame = 255  // a checksum did not add up
};
