// Single DES (FIPS 46-3) on 8-byte blocks, with a pass-through form that
// copies blocks unchanged for R/Ws without encryption.
#pragma once

#include <cstdint>

class DesCipher {
 public:
  // enabled 0: the block operations copy their input. A key, if given, is
  // loaded at once.
  DesCipher(std::int32_t enabled, const std::uint8_t *key);
  ~DesCipher();
  DesCipher(const DesCipher &) = delete;
  DesCipher &operator=(const DesCipher &) = delete;

  // Loads the key (its parity bits are ignored) and builds all round keys.
  void SetKey(const std::uint8_t *key);
  // Input and output may be the same buffer.
  void EncryptBlock(const std::uint8_t *input, std::uint8_t *output);
  void DecryptBlock(const std::uint8_t *input, std::uint8_t *output);

 private:
  void Crypt(const std::uint8_t *input, std::uint8_t *output, bool decrypt);
  void BuildSchedule();

  std::int32_t enabled;
  bool scheduleReady;
  std::uint32_t keyWords[2];
  std::uint64_t roundKeys[16];  // 48 bits each
};
