// The event log's lines: what the tools write must read back field for
// field with a JSON reader of its own.
#include <set>

#include <gtest/gtest.h>

#include "link/event_log.h"
#include "tests/support/event_fields.h"

namespace {

using eventlog::Event;

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
  EventFields fields;
  std::string error;
  ASSERT_TRUE(ReadEventFields(line, &fields, &error)) << error;
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

TEST(EventLogTest, FailureNamesAreDistinct) {
  std::set<std::string> names;
  for (int f = 0; f <= static_cast<int>(eventlog::kLastFailure); ++f) {
    names.insert(eventlog::FailureName(static_cast<eventlog::Failure>(f)));
  }
  EXPECT_EQ(names.size(), static_cast<std::size_t>(eventlog::kLastFailure) + 1);
  EXPECT_EQ(names.count("unknown"), 0u);
}

}  // namespace
