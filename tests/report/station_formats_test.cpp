// The station's metrics and status JSON read by other programs' parsers:
// Prometheus's own linter (promtool), the Python client's parser, and a
// JSON Schema validator against the documented format. Each is skipped,
// saying so, when its package is missing (scripts/deps.sh installs them
// when run as root).
#include <gtest/gtest.h>

#include <unistd.h>
#include <fstream>
#include <string>

#include "report/station_metrics.h"
#include "tests/report/station_samples.h"
#include "tests/support/process.h"
#include "tests/support/scratch_dir.h"

namespace {

const char kPython[] = "/usr/bin/python3";  // Debian's, which the packages serve
constexpr int kSkipped = 77;

std::string Source(const std::string &path) { return std::string(SOURCE_DIR) + "/" + path; }

void WriteFile(const std::string &path, const std::string &text) {
  std::ofstream file(path, std::ios::binary);
  file << text;
  ASSERT_TRUE(file.good()) << path;
}

// A station whose names and ports try to break out of their quotes and
// lines, with every kind of figure filled in.
StationSnapshot HostileStation() {
  StationSnapshot s;
  s.name = "lab \"north\"";
  s.version = "1.1.0";
  s.title = "<script>alert(1)</script>";
  s.session = "C:\\soaks\\monday";
  s.startTime = 1714600000;
  s.time = 1714600100;
  s.requiredRate = 0.99;
  for (int i = 0; i < 4; ++i) {
    ReaderSnapshot r = SampleReader("unit" + std::to_string(i), i % 2 ? "brimlet" : "kestrow",
                                    "/dev/ttyUSB" + std::to_string(i),
                                    i == 3 ? "failed" : "polling", 1000 * i, 990 * i);
    r.starts = 1 + i;
    r.runs = 10 * i;
    if (i > 0) r.failures = {{"no card", 8 * i}, {"no ACK", 2 * i}};
    r.losses = {i, 3 * i, 1.5 * i};
    r.reconnections = i;
    if (i > 0) r.lastAttemptTime = 1714600099.5;
    for (int k = 0; k < 100 * i; ++k) r.pollDurations.Add(0.004 + 0.003 * (k % 50));
    for (int k = 0; k < 30 * i; ++k) r.recent.Add(1714600000 + k, k % 7 != 0);
    s.readers.push_back(r);
  }
  s.readers[1].name = "back\\slash";
  s.readers[2].port = "COM3\"\n} 1\n# TYPE x counter";
  s.readers[3].cause = "cannot open /dev/tty\x01: \xff";
  return s;
}

class StationFormats : public ::testing::Test {
 protected:
  // Runs a checker; skips the test when it says its package is missing.
  void Check(const std::string &program, const std::vector<std::string> &args,
             const std::string &input = "") {
    RunResult r = RunProgram(program, args, input, 120000);
    if (r.exitCode == kSkipped) GTEST_SKIP() << r.out << " (scripts/deps.sh installs it as root)";
    EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
  }
  ScratchDir dir_;
};

TEST_F(StationFormats, ExpositionReadsBackWithThePythonParser) {
  if (access(kPython, X_OK) != 0) GTEST_SKIP() << "no " << kPython;
  std::string path = dir_ / "metrics.txt";
  WriteFile(path, MetricsText(HostileStation()));
  Check(kPython, {Source("tests/report/data/check_exposition.py"), path, "--expect",
                  "station=lab \"north\"", "--expect", "reader=back\\slash", "--expect",
                  "port=COM3\"\n} 1\n# TYPE x counter", "--expect", "class=no ACK"});
}

TEST_F(StationFormats, ExpositionPassesPromtool) {
  std::string promtool = "/usr/bin/promtool";
  if (access(promtool.c_str(), X_OK) != 0) {
    GTEST_SKIP() << "promtool (package prometheus) is missing; scripts/deps.sh installs it as root";
  }
  RunResult r = RunProgram(promtool, {"check", "metrics"}, MetricsText(HostileStation()), 120000);
  EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
  EXPECT_EQ(r.out + r.err, "");  // no lint remark either
}

TEST_F(StationFormats, StatusJsonMatchesItsDescription) {
  if (access(kPython, X_OK) != 0) GTEST_SKIP() << "no " << kPython;
  std::string path = dir_ / "status.json";
  WriteFile(path, StatusJson(HostileStation()));
  Check(kPython, {Source("tests/report/data/check_status.py"), path,
                  Source("docs/station-status.schema.json"), Source("docs/station-status.md")});
  StationSnapshot empty;
  WriteFile(path, StatusJson(empty));
  Check(kPython, {Source("tests/report/data/check_status.py"), path,
                  Source("docs/station-status.schema.json"), Source("docs/station-status.md")});
}

}  // namespace
