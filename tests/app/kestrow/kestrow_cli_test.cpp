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

TEST(KestrowCliTest, EveryParseErrorPrintsUsageAndExitsTwo) {
  const std::vector<std::vector<std::string>> bad = {{"b"},
                                                     {"b", "12a"},
                                                     {"b", "-1"},
                                                     {"ack", "30"},
                                                     {"kagi", "On"},
                                                     {"ka", "0123456789ABCDEF0"},
                                                     {"kx", "0123456789ABCDEF"},
                                                     {"t", "0"},
                                                     {"c", std::string(4096, 'x')},
                                                     {"f", std::string(4096, 'x')},
                                                     {"x"},
                                                     {"c", "/dev/null", "t", "0"},
                                                     {"d", "pos1"},
                                                     {"b", "1x", "v"}};
  for (const auto &args : bad) {
    RunResult r = Kestrow(args);
    EXPECT_EQ(r.out, kUsage) << args[0];
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.exitCode, 2) << args[0];
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
