// The shared command-line parser.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/platform.h"
#include "poll/options.h"

namespace {

const char *const kUsage[] = {"usage\n", nullptr};
const ToolTexts kTexts = {"tool", "Title", kUsage};

struct Parsed {
  ParseOutcome outcome;
  bool goesOn;
  std::string printed;
  ReaderSettings reader;
  PollSettings poll;
};

Parsed Parse(std::vector<std::string> words) {
  Parsed p;
  SetDefaultReaderSettings(p.reader);
  SetDefaultPollSettings(p.poll);
  std::vector<char *> argv{const_cast<char *>("tool")};
  for (std::string &w : words) argv.push_back(w.data());
  ::testing::internal::CaptureStdout();
  p.outcome = ParseOptions(static_cast<int>(argv.size()), argv.data(), p.reader, p.poll, kTexts);
  p.goesOn = p.outcome == ParseOutcome::kRun;
  std::fflush(stdout);
  p.printed = ::testing::internal::GetCapturedStdout();
  return p;
}

bool Refused(std::vector<std::string> words) {
  Parsed p = Parse(std::move(words));
  return p.outcome == ParseOutcome::kRefused && p.printed == "usage\n";
}

// The refusal a command line gets, read without printing.
std::string RefusalOf(std::vector<std::string> words) {
  ReaderSettings reader;
  PollSettings poll;
  SetDefaultReaderSettings(reader);
  SetDefaultPollSettings(poll);
  std::vector<char *> argv{const_cast<char *>("tool")};
  for (std::string &w : words) argv.push_back(w.data());
  OptionReading reading = ReadOptions(static_cast<int>(argv.size()), argv.data(), reader, poll);
  return reading.outcome == ParseOutcome::kRefused ? reading.refusal : "(not refused)";
}

TEST(TextTests, DigitHelpers) {
  EXPECT_TRUE(IsDecimalText(""));
  EXPECT_TRUE(IsDecimalText("0123456789"));
  EXPECT_FALSE(IsDecimalText("-1"));
  EXPECT_FALSE(IsDecimalText(" 1"));
  EXPECT_FALSE(IsDecimalText("0x10"));
  EXPECT_FALSE(IsDecimalText("\xB9"));
  EXPECT_TRUE(IsHexText("09afAF"));
  EXPECT_FALSE(IsHexText("0g"));
  EXPECT_EQ(HexDigitValue('0'), 0);
  EXPECT_EQ(HexDigitValue('9'), 9);
  EXPECT_EQ(HexDigitValue('a'), 10);
  EXPECT_EQ(HexDigitValue('F'), 15);
  EXPECT_EQ(HexDigitValue('z'), 0);
}

TEST(ParseOptionsTest, NoArgumentsKeepsDefaults) {
  Parsed p = Parse({});
  EXPECT_TRUE(p.goesOn);
  EXPECT_EQ(p.printed, "");
  EXPECT_STREQ(p.reader.portPath, "//.//COM1");
  EXPECT_EQ(p.reader.baudRate, 115200);
  EXPECT_EQ(p.reader.ackTimeoutMs, 50);
  EXPECT_EQ(p.reader.responseTimeoutMs, 50);
  EXPECT_TRUE(p.reader.desEnabled);
  EXPECT_EQ(p.reader.Ka[0], 0x5A);
  EXPECT_EQ(p.reader.Kb[7], 0xA6);
  EXPECT_EQ(p.poll.attemptsPerRun, 100);
  EXPECT_TRUE(p.poll.repeatRuns);
  EXPECT_STREQ(p.poll.resultPath, "");
  EXPECT_EQ(p.poll.recordTag, -1);
  EXPECT_EQ(p.poll.failureLimit, 20);
  EXPECT_FALSE(p.poll.failureLimitSet);
  EXPECT_TRUE(p.poll.commaTerminated);
  EXPECT_FALSE(p.poll.portGiven);
  EXPECT_STREQ(p.poll.logPath, "");
  EXPECT_FALSE(p.poll.logAllFrames);
  EXPECT_EQ(p.poll.runForSeconds, 0u);
}

// runfor is written out, as rt is; a word beginning with d is still the
// tag, so no command line accepted before changes its meaning.
TEST(ParseOptionsTest, RunForTakesADuration) {
  const struct {
    const char *value;
    std::uint32_t seconds;  // 0: refused
  } kCases[] = {
      {"12h", 43200}, {"90s", 90}, {"30m", 1800},      {"2d", 172800},
      {"45", 45},     {"1", 1},    {"366d", 31622400}, {"31622400", 31622400},
      {"0", 0},       {"0s", 0},   {"367d", 0},        {"31622401", 0},
      {"", 0},        {"1.5h", 0}, {"12H", 0},         {"-5m", 0},
      {"h", 0},       {"12 h", 0}, {"1w", 0},
  };
  for (const auto &c : kCases) {
    Parsed p = Parse({"runfor", c.value});
    EXPECT_EQ(p.goesOn, c.seconds != 0) << c.value;
    EXPECT_EQ(p.poll.runForSeconds, c.seconds) << c.value;
  }
  Parsed p = Parse({"runfor", "1h", "t", "20", "rt", "60", "runfor", "5m"});
  ASSERT_TRUE(p.goesOn);
  EXPECT_EQ(p.poll.runForSeconds, 300u);  // the later one counts
  EXPECT_EQ(p.poll.attemptsPerRun, 20);
  EXPECT_EQ(p.reader.responseTimeoutMs, 60);
  EXPECT_EQ(RefusalOf({"runfor", "12H"}),
            "runfor 12H (a duration from 1s to 366d such as 90s, 30m, 12h or 2d is expected "
            "(digits alone are seconds))");
  EXPECT_EQ(RefusalOf({"run", "12h"}), "run (not an option word)");
  EXPECT_EQ(RefusalOf({"runfo", "12h"}), "runfo (not an option word)");
  EXPECT_EQ(RefusalOf({"runforever", "12h"}), "runforever (not an option word)");
  EXPECT_EQ(RefusalOf({"runfor"}), "runfor (its value is missing)");
  EXPECT_EQ(RefusalOf({"duration", "12h"}),
            "duration 12h (a decimal number is expected: the digits 0 to 9 only)");
  EXPECT_EQ(Parse({"duration", "12"}).poll.recordTag, 12);
}

TEST(ParseOptionsTest, AcceptsEveryOption) {
  Parsed p = Parse({"com",       "COM3",    "baud", "38400", "at",  "30",
                    "rt",        "70",      "kagi", "off",   "kb",  "0123456789abcDEF",
                    "t",         "1200",    "e",    "5000",  "d",   "99999999999",
                    "file",      "out.csv", "s",    "off",   "log", "events.jsonl",
                    "logframes", "all"});
  ASSERT_TRUE(p.goesOn) << p.printed;
  EXPECT_STREQ(p.reader.portPath, "//.//COM3");
  EXPECT_TRUE(p.poll.portGiven);
  EXPECT_EQ(p.reader.baudRate, 38400);
  EXPECT_EQ(p.reader.ackTimeoutMs, 30);
  EXPECT_EQ(p.reader.responseTimeoutMs, 70);
  EXPECT_FALSE(p.reader.desEnabled);
  const std::uint8_t kb[8] = {0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF};
  EXPECT_EQ(0, std::memcmp(p.reader.Kb, kb, 8));
  EXPECT_EQ(p.reader.Ka[0], 0x5A);
  EXPECT_EQ(p.poll.attemptsPerRun, 1000);
  EXPECT_FALSE(p.poll.repeatRuns);
  EXPECT_EQ(p.poll.failureLimit, 1000);
  EXPECT_TRUE(p.poll.failureLimitSet);
  EXPECT_EQ(p.poll.recordTag, 2147483647);
  EXPECT_STREQ(p.poll.resultPath, "out.csv");
  EXPECT_FALSE(p.poll.commaTerminated);
  EXPECT_STREQ(p.poll.logPath, "events.jsonl");
  EXPECT_TRUE(p.poll.logAllFrames);
  EXPECT_FALSE(Parse({"logframes", "all", "logframes", "failures"}).poll.logAllFrames);
}

TEST(ParseOptionsTest, LaterOptionsOverrideAndEmptyDecimalIsZero) {
  Parsed p = Parse({"b", "9600", "b", "", "c", "h", "e", "0"});
  ASSERT_TRUE(p.goesOn);
  EXPECT_EQ(p.reader.baudRate, 0);
  EXPECT_STREQ(p.reader.portPath, "//.//h");  // h in a value position is a value
  EXPECT_EQ(p.poll.failureLimit, 0);
}

TEST(ParseOptionsTest, RefusesBadWordsAndValues) {
  EXPECT_TRUE(Refused({"b"}));
  EXPECT_TRUE(Refused({"b", "96a0"}));
  EXPECT_TRUE(Refused({"b", "-9600"}));
  EXPECT_TRUE(Refused({"ack", "30"}));
  EXPECT_TRUE(Refused({"rtx", "30"}));
  EXPECT_TRUE(Refused({"ka", "0123456789abcdef0123456789abcdef"}));
  EXPECT_TRUE(Refused({"ka", "0123456789abcdeg"}));
  EXPECT_TRUE(Refused({"kc", "0123456789abcdef"}));
  EXPECT_TRUE(Refused({"kagi", "On"}));
  EXPECT_TRUE(Refused({"s", "yes"}));
  EXPECT_TRUE(Refused({"C", "COM1"}));
  EXPECT_TRUE(Refused({"-c", "COM1"}));
  EXPECT_TRUE(Refused({"", "x"}));
  EXPECT_TRUE(Refused({"x"}));
  EXPECT_TRUE(Refused({"g", "1"}));
  EXPECT_TRUE(Refused({"b", "1x", "v"}));  // an error ends parsing before v
  // The event log's word is written out, like at and kagi.
  EXPECT_TRUE(Refused({"l", "events.jsonl"}));
  EXPECT_TRUE(Refused({"logfile", "events.jsonl"}));
  EXPECT_TRUE(Refused({"log"}));
  EXPECT_TRUE(Refused({"logframe", "all"}));
  EXPECT_TRUE(Refused({"logframes", "All"}));
  EXPECT_TRUE(Refused({"logframes", "none"}));
}

TEST(ParseOptionsTest, RefusesValuesThatDoNotFit) {
  // The platform's limits: 58 and 259 on Windows, its path limit on POSIX.
  std::size_t portLimit = platform::MaxPortNameLength();
  std::size_t pathLimit = platform::MaxFilePathLength();
  Parsed longest = Parse({"c", std::string(portLimit, 'p'), "f", std::string(pathLimit, 'f')});
  EXPECT_TRUE(longest.goesOn);
  EXPECT_EQ(std::string(longest.reader.portPath), "//.//" + std::string(portLimit, 'p'));
  EXPECT_EQ(std::string(longest.poll.resultPath), std::string(pathLimit, 'f'));
  EXPECT_TRUE(Refused({"c", std::string(portLimit + 1, 'p')}));
  EXPECT_TRUE(Refused({"f", std::string(pathLimit + 1, 'f')}));
  EXPECT_TRUE(Refused({"t", "0"}));
  EXPECT_TRUE(Refused({"t", ""}));
  EXPECT_TRUE(Parse({"t", "1"}).goesOn);
}

#ifdef __linux__
TEST(ParseOptionsTest, PosixTakesPathsUpToItsPathLimit) {
  // Stable adapter names under /dev/serial/by-id often run to 60-80 characters.
  EXPECT_EQ(platform::MaxPortNameLength(), 4095);
  EXPECT_EQ(platform::MaxFilePathLength(), 4095);
}
#endif

#ifdef _WIN32
TEST(ParseOptionsTest, WindowsKeepsTheLimitsOfItsNames) {
  EXPECT_EQ(platform::MaxPortNameLength(), 58);
  EXPECT_EQ(platform::MaxFilePathLength(), 259);
}
#endif

TEST(ParseOptionsTest, VersionAndHelpEndParsingAsAsked) {
  Parsed p = Parse({"c", "COM2", "version", "b", "x"});
  EXPECT_EQ(p.outcome, ParseOutcome::kShown);
  EXPECT_EQ(p.printed, "<< Title (C) 2026 The kestrow authors >> \n");
  // Only the first letter counts, as for the other one-letter words; a value
  // after h is ignored like everything after it.
  for (std::vector<std::string> words :
       {std::vector<std::string>{"h"}, {"help"}, {"t", "5", "h", "x"}}) {
    p = Parse(words);
    EXPECT_EQ(p.outcome, ParseOutcome::kShown) << words[0];
    EXPECT_EQ(p.printed, "usage\n");
  }
  EXPECT_TRUE(Refused({"b", "1x", "h"}));  // an error before h is still an error
}

// Each refusal names the word, the value when it is the value that is
// wrong, and what the word expects.
TEST(ParseOptionsTest, RefusalNamesWordValueAndWhy) {
  const std::string kDecimal = "(a decimal number is expected: the digits 0 to 9 only)";
  const struct {
    std::vector<std::string> words;
    std::string refusal;
  } cases[] = {
      {{"c", "COM1", "t", "10", "d", "A"}, "d A " + kDecimal},
      {{"b", "-9600"}, "b -9600 " + kDecimal},
      {{"baud", "96a0"}, "baud 96a0 " + kDecimal},
      {{"at", "1e2"}, "at 1e2 " + kDecimal},
      {{"rt", " 5"}, "rt \" 5\" " + kDecimal},
      {{"e", "0x10"}, "e 0x10 " + kDecimal},
      {{"t", "0"}, "t 0 (a run of at least 1 attempt is expected)"},
      {{"t", ""}, "t \"\" (a run of at least 1 attempt is expected)"},
      {{"ka", "0123456789abcdeg"}, "ka 0123456789abcdeg (16 hexadecimal digits are expected)"},
      {{"kagi", "On"}, "kagi On (on or off is expected)"},
      {{"s", "yes"}, "s yes (on or off is expected)"},
      {{"logframes", "none"}, "logframes none (failures or all is expected)"},
      {{"b"}, "b (its value is missing)"},
      {{"t", "5", "rt"}, "rt (its value is missing)"},
      {{"x", "1"}, "x (not an option word)"},
      {{"t", "5", "x"}, "x (not an option word)"},
      {{"ack", "30"}, "ack (not an option word)"},
      {{"kc", "0123456789abcdef"}, "kc (not an option word)"},
      {{"logfile", "a"}, "logfile (not an option word)"},
      {{"-c", "COM1"}, "-c (not an option word)"},
      {{"", "x"}, "\"\" (not an option word)"},
      // Bytes that could steer a terminal are shown escaped, in quotes.
      {{"d", "\x1b[2J"}, "d \"\\x1B[2J\" " + kDecimal},
      {{"d", "a\"b\\"}, "d a\"b\\ " + kDecimal},
      {{"d", "\"x"}, "d \"\\\"x\" " + kDecimal},
      {{"d", "\xC3\xA9"}, "d \"\\xC3\\xA9\" " + kDecimal},
  };
  for (const auto &c : cases) EXPECT_EQ(RefusalOf(c.words), c.refusal) << c.words[0];
  // Long values are cut after 64 bytes.
  std::size_t limit = platform::MaxFilePathLength();
  EXPECT_EQ(RefusalOf({"f", std::string(limit + 1, 'f')}),
            "f \"" + std::string(64, 'f') + "\"... (a path of at most " + std::to_string(limit) +
                " characters is expected)");
  EXPECT_EQ(RefusalOf({"t", "5", "v"}), "(not refused)");
}

TEST(ParseOptionsTest, RefusalLineGoesToStandardErrorAfterTheUsage) {
  ::testing::internal::CaptureStderr();
  Parsed p = Parse({"t", "10", "d", "A"});
  std::string errors = ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(p.outcome, ParseOutcome::kRefused);
  EXPECT_EQ(p.printed, "usage\n");
  EXPECT_EQ(errors, "Refused: d A (a decimal number is expected: the digits 0 to 9 only)\n");
  ::testing::internal::CaptureStderr();
  p = Parse({"t", "10", "h"});
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");  // asked for, not refused
}

}  // namespace
