#include "secure/secure_messaging.h"

#include <cstring>

#include "secure/des_cipher.h"

namespace secure {

namespace {

std::uint8_t RotateRight(std::uint8_t value, int bits) {
  return static_cast<std::uint8_t>((value >> bits) | (value << (8 - bits)));
}

void XorBlock(std::uint8_t *target, const std::uint8_t *other) {
  for (int i = 0; i < kBlockSize; ++i) target[i] ^= other[i];
}

// CBC-MAC (zero IV, no final step) of `blocks` blocks at `data`.
void ComputeMac(const std::uint8_t *message, int blocks, std::uint8_t *mac) {
  std::uint8_t macKey[kBlockSize];
  DeriveMacKey(message[0], message[1], macKey);
  DesCipher des(1, macKey);
  std::memset(mac, 0, kBlockSize);
  for (int i = 0; i < blocks; ++i) {
    XorBlock(mac, message + 2 + kBlockSize * i);
    des.EncryptBlock(mac, mac);
  }
}

}  // namespace

void DeriveMacKey(std::uint8_t x, std::uint8_t y, std::uint8_t *macKey) {
  for (int i = 0; i < 4; ++i) {
    macKey[i] = RotateRight(x, 2 * i);
    macKey[4 + i] = RotateRight(y, 2 * i);
  }
}

bool SealMessage(const std::uint8_t *sessionKey, std::uint8_t *message) {
  int dataBytes = message[0] - 1;
  if (dataBytes < 0 || dataBytes > kMaxSealedData) return false;
  int dataBlocks = (dataBytes + kBlockSize - 1) / kBlockSize;
  message[0] = static_cast<std::uint8_t>(kBlockSize * (dataBlocks + 1) + 1);
  ComputeMac(message, dataBlocks, message + 2 + kBlockSize * dataBlocks);
  DesCipher des(1, sessionKey);
  std::uint8_t chain[kBlockSize] = {};
  for (int i = 0; i <= dataBlocks; ++i) {
    std::uint8_t *block = message + 2 + kBlockSize * i;
    XorBlock(block, chain);
    des.EncryptBlock(block, block);
    std::memcpy(chain, block, kBlockSize);
  }
  return true;
}

bool OpenMessage(const std::uint8_t *sessionKey, std::uint8_t *message) {
  int blocks = (message[0] - 1) / kBlockSize;
  if (message[0] < 1 || blocks == 0) return false;
  DesCipher des(1, sessionKey);
  std::uint8_t chain[kBlockSize] = {};
  for (int i = 0; i < blocks; ++i) {
    std::uint8_t *block = message + 2 + kBlockSize * i;
    std::uint8_t cipher[kBlockSize];
    std::memcpy(cipher, block, kBlockSize);
    des.DecryptBlock(block, block);
    XorBlock(block, chain);
    std::memcpy(chain, cipher, kBlockSize);
  }
  std::uint8_t mac[kBlockSize];
  ComputeMac(message, blocks - 1, mac);
  return std::memcmp(mac, message + 2 + kBlockSize * (blocks - 1), kBlockSize) == 0;
}

}  // namespace secure
