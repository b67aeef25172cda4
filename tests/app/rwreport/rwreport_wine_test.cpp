// rwreport.exe under Wine, on a reader's files as rwstation leaves them and
// named with Windows paths: the log finds its result file beside it, the
// R/W's losses count apart, and the JUnit file and the page are written.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/log_lines.h"
#include "tests/support/scratch_dir.h"
#include "tests/support/text_files.h"
#include "tests/support/tool_runner.h"

namespace {

using loglines::Attempt;

constexpr long long kSecond = 1000000;

class RwreportWineTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string why = WineRunner()->Unavailable();
    if (!why.empty()) GTEST_SKIP() << why;
  }
};

// Run 1 finds the card in 5 of its first 6 attempts, then its port fails
// for 4; the R/W is back for run 2, which finds it 10 times.
std::string ReaderLog() {
  std::string log =
      loglines::Start(kSecond, "2026-12-07T06:40:00Z", -1, "kestrow", 10, "unit1.txt") +
      loglines::Open(kSecond + 1, true) + loglines::Connect(kSecond + 2, true);
  long long t = 2 * kSecond;
  for (int n = 1; n <= 10; ++n, t += kSecond) {
    log += n > 6    ? Attempt(t, 1, n, 3, 1000, "port error")
           : n == 3 ? Attempt(t, 1, n, 3, 130000, "no ACK")
                    : Attempt(t, 1, n, 0, 9000, "none");
  }
  log += loglines::Run(t, 1, 5, 10, "50.00", -1);
  log += loglines::Open(t + 1, true) + loglines::Connect(t + 2, true) +
         loglines::Reconnect(t + 3, 2, true);
  for (int n = 1; n <= 10; ++n) log += Attempt(t += kSecond, 2, n, 0, 9000, "none");
  return log + loglines::Run(t + 1, 2, 10, 10, "100.00", -1);
}

TEST_F(RwreportWineTest, AReadersFilesWithItsLossesApart) {
  const ToolRunner &wine = *WineRunner();
  ScratchDir dir;
  ASSERT_TRUE(WriteFile(dir / "unit1.txt", " 50.00%,   5,  10\n100.00%,  10,  10\n"));
  ASSERT_TRUE(WriteFile(dir / "unit1.log", ReaderLog()));
  RunResult r = wine.Run(
      "rwreport", {"--by", "file", "--require", "50", "--junit", wine.ToolPath(dir, "verdicts.xml"),
                   "--html", wine.ToolPath(dir, "report.html"), wine.ToolPath(dir, "unit1.txt"),
                   wine.ToolPath(dir, "unit1.log")});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  // 15 of 16 card-finding attempts; the 4 without the R/W apart.
  EXPECT_NE(r.out.find(wine.Text("\nunit1      2        16         15    93.75")),
            std::string::npos)
      << r.out;
  EXPECT_NE(r.out.find(wine.Text("R/W losses (attempts made while the R/W was gone, not counted "
                                 "as card finding):\n  unit1: 1 span, 4 attempts, ")),
            std::string::npos)
      << r.out;
  std::string junit = ReadFile(dir / "verdicts.xml");
  EXPECT_NE(junit.find("<testcase classname=\"card finding\" name=\"unit1\"><system-out>card "
                       "finding: 15 of 16 attempts in 2 runs, 93.75 %"),
            std::string::npos)
      << junit;
  EXPECT_NE(ReadFile(dir / "report.html").find("</html>"), std::string::npos);
}

}  // namespace
