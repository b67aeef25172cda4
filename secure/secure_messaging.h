// The sealed message format of the secured R/W, shared by both ends:
//   byte 0  length L = 8n + 1 (the bytes that follow)
//   byte 1  code, in clear
//   then n blocks, CBC-encrypted under the session key (zero IV): the data
//   (everything after the code byte) padded with zero bytes to whole blocks,
//   then the CBC-MAC of those blocks under a key derived from L and the code.
#pragma once

#include <cstdint>

namespace secure {

constexpr int kBlockSize = 8;
// The largest number of data bytes (after the code byte) that can be sealed.
constexpr int kMaxSealedData = 240;

// The MAC key of a message with length byte x and code byte y.
void DeriveMacKey(std::uint8_t x, std::uint8_t y, std::uint8_t *macKey);

// Seals `message` in place. The buffer must hold 8 * ceil(D / 8) + 10 bytes,
// D = message[0] - 1, and the padding bytes after the data must be zero.
// Returns false, leaving the message alone, when D is out of range.
bool SealMessage(const std::uint8_t *sessionKey, std::uint8_t *message);

// Opens `message` in place; true when its MAC matches. Only the whole blocks
// within message[0] bytes are read; a message without a MAC block fails.
bool OpenMessage(const std::uint8_t *sessionKey, std::uint8_t *message);

}  // namespace secure
