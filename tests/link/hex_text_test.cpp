// Bytes as hexadecimal text, and the places that show them so: the event
// log's frames and its escapes of control characters.
#include <cstdint>
#include <string>

#include <gtest/gtest.h>

#include "link/event_log.h"
#include "link/hex_text.h"

namespace {

TEST(HexTextTest, PairsOfDigitsWithTheirSeparator) {
  const std::uint8_t bytes[] = {0x00, 0x0F, 0x10, 0xA5, 0x7E, 0xFF};
  EXPECT_EQ(hex::Format(bytes, sizeof bytes), "00 0F 10 A5 7E FF");
  EXPECT_EQ(hex::Format(bytes, sizeof bytes, ""), "000F10A57EFF");
  EXPECT_EQ(hex::Format(bytes, sizeof bytes, ":"), "00:0F:10:A5:7E:FF");
  EXPECT_EQ(hex::Format(bytes, 1), "00");
  EXPECT_EQ(hex::Format(bytes, 0), "");
}

TEST(HexTextTest, AppendsOneByteInEitherCase) {
  std::string out = "x";
  hex::AppendByte(out, 0xAB);
  hex::AppendByte(out, 0xCD, hex::Letters::kLower);
  hex::AppendByte(out, 0x09, hex::Letters::kLower);
  EXPECT_EQ(out, "xABcd09");
}

TEST(HexTextTest, EventLogShowsFramesAndControlCharactersInHex) {
  const std::uint8_t frame[] = {0x00, 0xFF, 0x1A};
  std::string line =
      eventlog::Event("tx").HexBytes("frame", frame, 3).Text("s", "\x1b\x7f").Line(5);
  EXPECT_EQ(line, "{\"v\":" + std::to_string(eventlog::kFormatVersion) +
                      ",\"t\":5,\"ev\":\"tx\",\"frame\":\"00 FF 1A\",\"s\":\"\\u001b\x7f\"}\n");
  // No bytes, no digits.
  EXPECT_NE(eventlog::Event("rx").HexBytes("frame", frame, 0).Line(0).find("\"frame\":\"\""),
            std::string::npos);
}

}  // namespace
