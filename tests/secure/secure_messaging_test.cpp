// The sealed message format: lengths, padding, round trips and tamper
// detection, and the sealing rebuilt here step by step from DES.
#include <cstring>
#include <vector>

#include <gtest/gtest.h>

#include "secure/des_cipher.h"
#include "secure/secure_messaging.h"

namespace {

const std::uint8_t kSessionKey[8] = {0x3B, 0x8E, 0x51, 0xD2, 0x6C, 0x07, 0xA9, 0xF4};

// A message buffer: length byte, code, `dataBytes` data bytes, zero padding.
std::vector<std::uint8_t> Message(std::uint8_t code, int dataBytes) {
  std::vector<std::uint8_t> m(256, 0);
  m[0] = static_cast<std::uint8_t>(dataBytes + 1);
  m[1] = code;
  for (int i = 0; i < dataBytes; ++i) m[2 + i] = static_cast<std::uint8_t>(0x11 * (i + 1));
  return m;
}

TEST(SecureMessagingTest, MacKeyRotatesLengthAndCode) {
  std::uint8_t key[8];
  secure::DeriveMacKey(0x21, 0x8C, key);
  const std::uint8_t expected[8] = {0x21, 0x48, 0x12, 0x84, 0x8C, 0x23, 0xC8, 0x32};
  EXPECT_EQ(0, std::memcmp(key, expected, 8));
}

TEST(SecureMessagingTest, SealedLengthsAndPadding) {
  const struct {
    int dataBytes;
    std::uint8_t sealedLength;
  } kCases[] = {{8, 0x11}, {18, 0x21}, {17, 0x21}, {16, 0x19}, {0, 0x09}, {240, 0xF9}};
  for (const auto &c : kCases) {
    auto m = Message(0x8C, c.dataBytes);
    ASSERT_TRUE(secure::SealMessage(kSessionKey, m.data()));
    EXPECT_EQ(m[0], c.sealedLength) << c.dataBytes;
    EXPECT_EQ(m[1], 0x8C);
  }
  auto tooLong = Message(0x8C, 241);
  EXPECT_FALSE(secure::SealMessage(kSessionKey, tooLong.data()));
  EXPECT_EQ(tooLong[0], 242);
}

TEST(SecureMessagingTest, SealingIsCbcOfDataAndMac) {
  // The close command's eight data bytes: one data block, then the MAC.
  auto m = Message(0x06, 8);
  std::uint8_t plain[8];
  std::memcpy(plain, m.data() + 2, 8);
  ASSERT_TRUE(secure::SealMessage(kSessionKey, m.data()));
  const std::uint8_t macKey[8] = {0x11, 0x44, 0x11, 0x44, 0x06, 0x81, 0x60, 0x18};
  DesCipher mac(1, macKey);
  std::uint8_t expectedMac[8];
  mac.EncryptBlock(plain, expectedMac);
  DesCipher cbc(1, kSessionKey);
  std::uint8_t c1[8], c2[8];
  cbc.EncryptBlock(plain, c1);
  for (int i = 0; i < 8; ++i) c2[i] = expectedMac[i] ^ c1[i];
  cbc.EncryptBlock(c2, c2);
  EXPECT_EQ(0, std::memcmp(m.data() + 2, c1, 8));
  EXPECT_EQ(0, std::memcmp(m.data() + 10, c2, 8));
}

TEST(SecureMessagingTest, OpenRestoresWhatWasSealed) {
  for (int dataBytes : {0, 1, 8, 17, 18, 26, 240}) {
    auto m = Message(0x8D, dataBytes);
    auto original = m;
    ASSERT_TRUE(secure::SealMessage(kSessionKey, m.data()));
    ASSERT_TRUE(secure::OpenMessage(kSessionKey, m.data())) << dataBytes;
    EXPECT_EQ(0, std::memcmp(m.data() + 2, original.data() + 2, dataBytes)) << dataBytes;
  }
}

TEST(SecureMessagingTest, AnyFlippedBitIsRejected) {
  auto sealed = Message(0x8D, 18);
  ASSERT_TRUE(secure::SealMessage(kSessionKey, sealed.data()));
  int length = sealed[0];
  for (int byte = 0; byte <= length; ++byte) {
    for (int bit = 0; bit < 8; ++bit) {
      auto m = sealed;
      m[byte] ^= static_cast<std::uint8_t>(1 << bit);
      EXPECT_FALSE(secure::OpenMessage(kSessionKey, m.data())) << byte << ":" << bit;
    }
  }
  std::uint8_t otherKey[8] = {1, 2, 3, 4, 5, 6, 7, 8};
  auto m = sealed;
  EXPECT_FALSE(secure::OpenMessage(otherKey, m.data()));
}

// Seals two data blocks by hand, with the MAC key taken from `lengthByte`,
// as an R/W does that sends k bytes more than its whole blocks.
std::vector<std::uint8_t> SealByHand(std::uint8_t lengthByte) {
  std::vector<std::uint8_t> m = Message(0x8D, 16);
  m[0] = lengthByte;
  std::uint8_t macKey[8];
  secure::DeriveMacKey(lengthByte, 0x8D, macKey);
  DesCipher mac(1, macKey);
  std::uint8_t chain[8] = {};
  for (int block = 0; block < 2; ++block) {
    for (int i = 0; i < 8; ++i) chain[i] ^= m[2 + 8 * block + i];
    mac.EncryptBlock(chain, chain);
  }
  std::memcpy(m.data() + 18, chain, 8);
  DesCipher cbc(1, kSessionKey);
  std::uint8_t previous[8] = {};
  for (int block = 0; block < 3; ++block) {
    std::uint8_t *b = m.data() + 2 + 8 * block;
    for (int i = 0; i < 8; ++i) b[i] ^= previous[i];
    cbc.EncryptBlock(b, b);
    std::memcpy(previous, b, 8);
  }
  for (int i = 26; i < 1 + lengthByte; ++i) m[i] = 0xEE;  // trailing bytes
  return m;
}

TEST(SecureMessagingTest, PartialBlocksIgnoredAndShortMessagesRejected) {
  for (int extra = 0; extra <= 7; ++extra) {
    auto m = SealByHand(static_cast<std::uint8_t>(0x19 + extra));
    ASSERT_TRUE(secure::OpenMessage(kSessionKey, m.data())) << extra;
    EXPECT_EQ(m[2], 0x11);
    EXPECT_EQ(m[17], 0x00 + 0x11 * 16 % 256);
  }
  auto sealed = Message(0x8D, 16);
  ASSERT_TRUE(secure::SealMessage(kSessionKey, sealed.data()));
  EXPECT_EQ(sealed, SealByHand(0x19));
  for (std::uint8_t length : {0, 1, 8}) {
    auto m = sealed;
    m[0] = length;
    EXPECT_FALSE(secure::OpenMessage(kSessionKey, m.data())) << int(length);
  }
}

}  // namespace
