// Every line of an event log is checked against the format: malformed JSON,
// bad UTF-8, NUL characters, numbers out of range or of the wrong type,
// unknown versions and values that do not belong together are refused with
// the reason.
#include <gtest/gtest.h>

#include "link/event_log.h"
#include "report/log_event.h"
#include "tests/support/log_lines.h"

namespace {

using logread::EventKind;
using logread::EventParser;
using logread::LogEvent;

std::string Trimmed(std::string line) {
  if (!line.empty() && line.back() == '\n') line.pop_back();
  return line;
}

// The reason a line is refused, or "" when it is accepted.
std::string Refusal(const std::string &line) {
  EventParser parser;
  LogEvent event;
  std::string error;
  return parser.Parse(Trimmed(line), &event, &error) ? std::string() : error;
}

std::string AttemptWith(const std::string &replace, const std::string &by) {
  std::string line = loglines::Attempt(5, 1, 1, 0, 12000, "none");
  std::size_t at = line.find(replace);
  EXPECT_NE(at, std::string::npos) << replace;
  return line.replace(at, replace.size(), by);
}

TEST(LogEventTest, ValidLinesOfBothVersionsGiveTheirFields) {
  EventParser parser;
  LogEvent event;
  std::string error;
  // The example of the format's documentation (version 1).
  ASSERT_TRUE(
      parser.Parse("{\"v\":1,\"t\":2035123456,\"ev\":\"attempt\",\"run\":1,\"n\":37,"
                   "\"result\":3,\"mark\":\"X\",\"us\":131082,\"failure\":\"no ACK\"}",
                   &event, &error))
      << error;
  EXPECT_EQ(event.version, 1);
  EXPECT_EQ(event.t, 2035123456);
  EXPECT_EQ(event.kind, EventKind::kAttempt);
  EXPECT_EQ(event.n, 37);
  EXPECT_EQ(event.us, 131082);
  EXPECT_EQ(logread::FailureClasses()[event.failure], "no ACK");

  ASSERT_TRUE(parser.Parse(Trimmed(loglines::Start(9, "2024-02-29T23:59:58Z")), &event, &error))
      << error;
  EXPECT_EQ(event.kind, EventKind::kStart);
  EXPECT_EQ(event.tool, "kestrow");
  EXPECT_TRUE(event.hasWall);
  EXPECT_EQ(event.wallSeconds, 1709251198);  // date -u -d 2024-02-29T23:59:58Z +%s
  EXPECT_EQ(event.attemptsPerRun, 4);
  EXPECT_EQ(event.tag, 7);

  // Fields and kinds this reader does not know are skipped, nested or not;
  // CR LF line ends and blanks are JSON's business.
  EXPECT_EQ(Refusal(AttemptWith("\"us\"", "\"later\":{\"a\":[1,{\"b\":null}]},\"us\"")), "");
  EXPECT_EQ(Refusal(loglines::Event(3, "heartbeat", "\"x\":[1,2]")), "");
  EXPECT_EQ(Refusal(" { \"v\" : 2 , \"t\" : 1 , \"ev\" : \"close\" , \"result\" : 0 } "), "");
  // A start without a wall clock (the tool could not read it).
  ASSERT_TRUE(parser.Parse(Trimmed(loglines::Start(9, "")), &event, &error)) << error;
  EXPECT_FALSE(event.hasWall);
}

TEST(LogEventTest, MalformedTextIsRefused) {
  EXPECT_EQ(Refusal("oops"), "not JSON: Invalid value at column 1");
  EXPECT_EQ(Refusal("[1,2]"), "the line is not an object");
  EXPECT_EQ(Refusal("5"), "the line is not an object");
  EXPECT_EQ(Refusal("{\"v\":2,\"t\":1,\"ev\":\"close\",\"result\":0} {}"),
            "not JSON: The document root must not be followed by other values at column 39");
  // Bad UTF-8: a lone continuation byte, an overlong form, a cut sequence,
  // in a known field and in an unknown one.
  EXPECT_EQ(Refusal(AttemptWith("\"none\"", "\"no\x80ne\"")),
            "not JSON: Invalid encoding in string at column 89");
  EXPECT_NE(Refusal(AttemptWith("\"us\"", "\"x\":\"\xC0\xAF\",\"us\"")), "");
  EXPECT_NE(Refusal(AttemptWith("\"us\"", "\"x\":\"\xE2\x82\",\"us\"")), "");
  // A line that ends inside a sequence: its missing bytes are not read
  // from beyond the line.
  EXPECT_EQ(Refusal("{\"v\":2,\"x\":\"\xE2"), "not JSON: Invalid encoding in string at column 13");
  // NUL: escaped inside a string, or a raw byte (after which the JSON
  // reader would see the end of its input).
  EXPECT_EQ(Refusal(AttemptWith("\"none\"", "\"none\\u0000x\"")), "a NUL character in \"failure\"");
  EXPECT_EQ(Refusal(AttemptWith("\"us\"", "\"a\\u0000\":1,\"us\"")), "a NUL character in a key");
  EXPECT_EQ(Refusal(AttemptWith("\"us\"", "\"later\":\"a\\u0000\",\"us\"")),
            "a NUL character in a string");
  std::string raw =
      Trimmed(loglines::Event(1, "close", "\"result\":0")) + std::string(1, '\0') + "junk";
  EXPECT_EQ(Refusal(raw), "a NUL byte at column 38");
  // A field given twice is ambiguous.
  EXPECT_EQ(Refusal(AttemptWith("\"us\":12000", "\"us\":12000,\"us\":1")), "\"us\" is given twice");
}

TEST(LogEventTest, NumbersOutOfRangeOrOfTheWrongTypeAreRefused) {
  const std::string kUsRange = "\"us\" is out of range (0 to 3600000000)";
  const struct {
    const char *us;
    std::string refusal;
  } kCases[] = {
      {"10000000000000000000", kUsRange},  // 10^19: beyond a signed 64-bit number
      {"9223372036854775807", kUsRange},   // 2^63 - 1
      {"-1", kUsRange},
      {"3600000001", kUsRange},
      {"3600000000", ""},
      {"0", ""},
      {"1e400", "not JSON: Number too big to be stored in double at column 70"},
      {"1.5", "\"us\" is not a whole number"},
      {"1e3", "\"us\" is not a whole number"},
      {"\"12\"", "\"us\" is not a whole number"},
      {"true", "\"us\" is not a whole number"},
      {"null", "\"us\" is not a whole number"},
      {"nan", "not JSON: Invalid value at column 71"},  // read as far as "n"
  };
  for (const auto &c : kCases) {
    EXPECT_EQ(Refusal(AttemptWith("12000", c.us)), c.refusal) << c.us;
  }
  std::string run = loglines::Run(9, 1, 1, 2, "50.00");
  auto runWith = [&](const std::string &from, const std::string &to) {
    std::string line = run;
    return line.replace(line.find(from), from.size(), to);
  };
  EXPECT_EQ(Refusal(run), "");
  EXPECT_EQ(Refusal(runWith("50.00", "NaN")), "not JSON: Invalid value at column 67");
  EXPECT_EQ(Refusal(runWith("50.00", "\"50.00\"")), "\"rate\" is not a number");
  EXPECT_EQ(Refusal(runWith("50.00", "100.5")), "\"rate\" is out of range");
  EXPECT_EQ(Refusal(runWith("\"successes\":1", "\"successes\":\"1\"")),
            "\"successes\" is not a whole number");
  EXPECT_EQ(Refusal(runWith("\"attempts\":2", "\"attempts\":\"2\"")),
            "\"attempts\" is not a whole number");
  EXPECT_EQ(Refusal(runWith("\"tag\":7", "\"tag\":-2")),
            "\"tag\" is out of range (-1 to 2147483647)");
  EXPECT_EQ(Refusal(AttemptWith("\"n\":1", "\"n\":1001")), "\"n\" is out of range (1 to 1000)");
  EXPECT_EQ(Refusal(AttemptWith("\"result\":0", "\"result\":256")),
            "\"result\" is out of range (0 to 255)");
  EXPECT_EQ(Refusal(loglines::Event(-1, "close", "\"result\":0")),
            "\"t\" is out of range (0 to 9223372036854775807)");
}

TEST(LogEventTest, VersionsAndDocumentedValuesAreChecked) {
  std::string close = loglines::Event(1, "close", "\"result\":0");
  const std::string kVersion = "format version \"v\" is not one this reader knows (1 or 2)";
  EXPECT_EQ(Refusal(std::string(close).replace(5, 1, "3")), kVersion);
  EXPECT_EQ(Refusal(std::string(close).replace(5, 1, "0")), kVersion);
  EXPECT_EQ(Refusal(std::string(close).replace(5, 1, "\"2\"")), kVersion);
  EXPECT_EQ(Refusal("{\"t\":1,\"ev\":\"close\",\"result\":0}"), "no \"v\"");
  EXPECT_EQ(Refusal("{\"v\":2,\"t\":1,\"result\":0}"), "no \"ev\"");

  // Version 2 names its keys by check value; version 1 carried the keys.
  std::string start = loglines::Start(1);
  EXPECT_EQ(Refusal(std::string(start).replace(5, 1, "1")), "no \"ka\"");
  std::string noKcv = start;
  noKcv.replace(noKcv.find("\"ka_kcv\":\"8CA64D\""), 17, "\"ka\":\"0123456789ABCDEF\"");
  EXPECT_EQ(Refusal(noKcv), "no \"ka_kcv\"");
  const struct {
    const char *from, *to, *refusal;
  } kStartCases[] = {
      {"8CA64D", "8ca64d", "\"ka_kcv\" is not 6 hexadecimal digits"},
      {"\"failures\"", "\"some\"", "\"frames\" is not one of the documented values"},
      {"kestrow", "other", "\"tool\" is not one of the documented values"},
      {"2026-12-07", "2026-02-29", "\"wall\" is not a UTC time like 2026-12-07T06:40:00Z"},
      {"\"attempts_per_run\":4", "\"attempts_per_run\":0",
       "\"attempts_per_run\" is out of range (1 to 1000)"},
  };
  for (const auto &c : kStartCases) {
    std::string line = start;
    line.replace(line.find(c.from), std::string(c.from).size(), c.to);
    EXPECT_EQ(Refusal(line), c.refusal) << c.to;
  }

  // Failure classes are those of the tools' own list, every one of them.
  for (const std::string &name : logread::FailureClasses()) {
    EXPECT_EQ(Refusal(AttemptWith("\"none\"", "\"" + name + "\"")), "") << name;
  }
  EXPECT_EQ(logread::FailureClasses().front(), "none");
  EXPECT_EQ(logread::FailureClasses().back(),
            eventlog::FailureName(static_cast<eventlog::Failure>(
                static_cast<int>(logread::FailureClasses().size()) - 1)));
  EXPECT_EQ(Refusal(AttemptWith("\"none\"", "\"no luck\"")), "\"failure\" is not a failure class");
  // The mark is what the console showed for the result.
  EXPECT_EQ(Refusal(AttemptWith("\"mark\":\"o\"", "\"mark\":\"X\"")),
            "\"mark\" does not match \"result\"");
  EXPECT_EQ(Refusal(loglines::Event(1, "tx", "\"frame\":\"00 0f F\",\"written\":true")),
            "\"frame\" is not bytes in hexadecimal");
  EXPECT_EQ(Refusal(loglines::Event(1, "rx", "\"frame\":\"\",\"result\":2")), "");
  EXPECT_EQ(Refusal(loglines::Event(1, "stop", "\"reason\":7")), "\"reason\" is not a string");
  EXPECT_EQ(Refusal(loglines::Event(1, "reconnect", "\"run\":2,\"ok\":1")),
            "\"ok\" is not true or false");
}

}  // namespace
