// The event log's lines: what the tools write must read back field for
// field, and a damaged line must be refused with its place.
#include <set>

#include <gtest/gtest.h>

#include "link/event_log.h"

namespace {

using eventlog::Event;
using eventlog::Fields;
using eventlog::ParseLine;

TEST(EventLogTest, LinesReadBackFieldForField) {
  const std::uint8_t frame[] = {0x00, 0x00, 0xFF, 0x03, 0xFD, 0x01, 0x02, 0x03, 0xFA, 0x00};
  std::string line = Event("attempt")
                         .Int("run", 2)
                         .Int("n", -7)
                         .Fixed("rate", 42.857142, 2)
                         .Flag("ok", false)
                         .Text("path", "C:\\rw \"lab\"\n\x01 ü")
                         .HexBytes("tx", frame, sizeof frame)
                         .Line(1234567);
  ASSERT_EQ(line.back(), '\n');
  EXPECT_EQ(line.substr(0, 42), "{\"v\":2,\"t\":1234567,\"ev\":\"attempt\",\"run\":2,");
  Fields fields;
  std::string error;
  ASSERT_TRUE(ParseLine(line, &fields, &error)) << error;
  EXPECT_EQ(fields.size(), 9u);
  EXPECT_EQ(fields["ev"], "attempt");
  EXPECT_EQ(fields["run"], "2");
  EXPECT_EQ(fields["n"], "-7");
  EXPECT_EQ(fields["rate"], "42.86");
  EXPECT_EQ(fields["ok"], "false");
  EXPECT_EQ(fields["path"], "C:\\rw \"lab\"\n\x01 ü");
  EXPECT_EQ(fields["tx"], "00 00 FF 03 FD 01 02 03 FA 00");
  // Every control character is escaped, so one event is one line.
  EXPECT_EQ(line.find('\n'), line.size() - 1);
}

TEST(EventLogTest, DamagedLinesAreRefusedWithTheirPlace) {
  const struct {
    const char *line;
    const char *error;
  } kCases[] = {
      {"", "expected '{' at column 1"},
      {"{\"a\":1", "expected ',' or '}' at column 7"},
      {"{\"a\" 1}", "expected ':' after \"a\" at column 6"},
      {"{a:1}", "expected a quoted key at column 2"},
      {"{\"a\":\"x}", "bad value of \"a\" at column 9"},
      {"{\"a\":}", "bad value of \"a\" at column 6"},
      {"{\"a\":\"\\q\"}", "bad value of \"a\" at column 9"},
      {"{\"a\":\"\\u12\"}", "bad value of \"a\" at column 12"},
      {"{\"a\":1} x", "text after the object at column 9"},
  };
  for (const auto &c : kCases) {
    Fields fields;
    std::string error;
    EXPECT_FALSE(ParseLine(c.line, &fields, &error)) << c.line;
    EXPECT_EQ(error, c.error) << c.line;
  }
  Fields fields;
  std::string error;
  EXPECT_TRUE(ParseLine(" { } \r\n", &fields, &error)) << error;
  EXPECT_TRUE(fields.empty());
}

TEST(EventLogTest, FailureNamesAreDistinct) {
  std::set<std::string> names;
  for (int f = 0; f <= static_cast<int>(eventlog::kLastFailure); ++f) {
    names.insert(eventlog::FailureName(static_cast<eventlog::Failure>(f)));
  }
  EXPECT_EQ(names.size(), static_cast<std::size_t>(eventlog::kLastFailure) + 1);
  EXPECT_EQ(names.count("unknown"), 0u);
}

}  // namespace
