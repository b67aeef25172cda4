// kestrow's command line, run as a program.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/process.h"

namespace {

const std::string kUsage =
    "\n"
    "Usage: kestrow [options]\n"
    "Options:\n"
    "  c COM-PORT                 Set port name. c COM1 \n"
    "  b BAUD-RATE                Set baud rate. b 115200 \n"
    "  ka KAR                     Set Kar key.\n"
    "  kb KBR                     Set Kbr key\n"
    "  kagi on/off                Set on when the R/W is Triple DES.\n"
    "                             Set off when the R/W is no encryption.\n"
    "  rt RESPONSE_PACKET_TIMEOUT Set response packet time-out(millisecond).\n"
    "  h                          Print this message and exit.\n"
    "  v                          Print version information and exit.\n";

RunResult Kestrow(const std::vector<std::string> &args) {
  return RunProgram(BinDir() + "/kestrow", args);
}

TEST(KestrowCliTest, UsageAndVersionTexts) {
  RunResult help = Kestrow({"h"});
  EXPECT_EQ(help.out, kUsage);
  EXPECT_EQ(help.exitCode, 0);
  RunResult version = Kestrow({"v"});
  EXPECT_EQ(version.out,
            "\n<< Polling for Serial Port --- ver 1.062 (C) 2026 The kestrow authors >> \n");
  EXPECT_EQ(version.exitCode, 0);
}

// The usage text stays as it is on standard output; one line on standard
// error names what was refused and why.
TEST(KestrowCliTest, EveryParseErrorPrintsUsageNamesTheRefusalAndExitsTwo) {
  const std::string kDecimal = "(a decimal number is expected: the digits 0 to 9 only)";
  const std::string kLong(4096, 'x');
  const std::string kShownLong = "\"" + std::string(64, 'x') + "\"...";
  const struct {
    std::vector<std::string> args;
    std::string refused;
  } bad[] = {
      {{"b"}, "b (its value is missing)"},
      {{"b", "12a"}, "b 12a " + kDecimal},
      {{"b", "-1"}, "b -1 " + kDecimal},
      {{"ack", "30"}, "ack (not an option word)"},
      {{"kagi", "On"}, "kagi On (on or off is expected)"},
      {{"ka", "0123456789ABCDEF0"}, "ka 0123456789ABCDEF0 (16 hexadecimal digits are expected)"},
      {{"kx", "0123456789ABCDEF"}, "kx (not an option word)"},
      {{"t", "0"}, "t 0 (a run of at least 1 attempt is expected)"},
      {{"c", kLong}, "c " + kShownLong + " (a port name of at most 4095 characters is expected)"},
      {{"f", kLong}, "f " + kShownLong + " (a path of at most 4095 characters is expected)"},
      {{"x"}, "x (not an option word)"},
      {{"c", "/dev/null", "t", "0"}, "t 0 (a run of at least 1 attempt is expected)"},
      {{"d", "pos1"}, "d pos1 " + kDecimal},
      {{"c", "/dev/nothere", "t", "10", "d", "A"}, "d A " + kDecimal},
      {{"b", "1x", "v"}, "b 1x " + kDecimal}};
  for (const auto &b : bad) {
    RunResult r = Kestrow(b.args);
    EXPECT_EQ(r.out, kUsage) << b.args[0];
    EXPECT_EQ(r.err, "Refused: " + b.refused + "\n");
    EXPECT_EQ(r.exitCode, 2) << b.args[0];
  }
}

TEST(KestrowCliTest, MissingNamedPortIsReaderError) {
  RunResult r = Kestrow({"c", "/dev/no-such-reader"});
  EXPECT_EQ(r.out,
            "\n<< Polling for Serial Port --- ver 1.062 >>\n<< (C) 2026 The kestrow authors >>\n\n"
            "Reader/Writer Error !!\n");
  EXPECT_EQ(r.err, "Cannot open /dev/no-such-reader: No such file or directory\n");
  EXPECT_EQ(r.exitCode, 1);
}

}  // namespace
