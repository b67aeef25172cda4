// The log read as a stream: lines split across chunks, a file much larger
// than its chunk, runs whose attempts do not match their figures, the setup
// of each log and the place of a bad line.
#include <gtest/gtest.h>

#include <cstdio>

#include "report/log_line_stream.h"
#include "report/log_reader.h"
#include "tests/support/log_lines.h"
#include "tests/support/scratch_dir.h"

namespace {

void WriteFile(const std::string &path, const std::string &text) {
  std::FILE *f = std::fopen(path.c_str(), "wb");
  ASSERT_NE(f, nullptr);
  ASSERT_EQ(std::fwrite(text.data(), 1, text.size(), f), text.size());
  ASSERT_EQ(std::fclose(f), 0);
}

std::vector<std::string> LinesOf(std::FILE *in, const std::string &prefix, std::size_t chunk) {
  logread::LineStream stream(in, prefix, chunk);
  std::vector<std::string> lines;
  std::string_view line;
  while (stream.Next(&line)) lines.emplace_back(line);
  EXPECT_EQ(stream.Error(), "");
  return lines;
}

TEST(LogLineStreamTest, LinesSplitAcrossChunksComeWhole) {
  ScratchDir dir;
  std::string text = "first\r\n\nsecond line\n" + std::string(100, 'x') + "\nlast";
  WriteFile(dir / "l.txt", text);
  const std::vector<std::string> expected = {"first", "", "second line", std::string(100, 'x'),
                                             "last"};
  for (std::size_t chunk : {1, 3, 7, 64, 4096}) {
    std::FILE *f = std::fopen((dir / "l.txt").c_str(), "rb");
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(LinesOf(f, "", chunk), expected) << chunk;
    std::fclose(f);
  }
  // Bytes already taken from the input come first.
  std::FILE *f = std::fopen((dir / "l.txt").c_str(), "rb");
  char head[4];
  ASSERT_EQ(std::fread(head, 1, 4, f), 4u);
  EXPECT_EQ(LinesOf(f, std::string(head, 4), 5), expected);
  std::fclose(f);
  EXPECT_EQ(LinesOf(nullptr, "a\nb\n", 2), (std::vector<std::string>{"a", "b"}));
}

// A log of `runs` runs of 3 attempts each, for tag 7.
std::string ManyRuns(int runs) {
  std::string log = loglines::Start(1000000, "2026-12-07T06:40:00Z", 7, "kestrow", 3);
  log += loglines::Event(1001000, "connect",
                         "\"device\":\"/dev/ttyUSB0\",\"baud\":115200,\"des\":true,\"ok\":true,"
                         "\"result\":0,\"failure\":\"none\"");
  long long t = 1002000;
  for (int run = 1; run <= runs; ++run) {
    log += loglines::Attempt(t += 14000, run, 1, 0, 10000 + run % 50, "none");
    log += loglines::Attempt(t += 14000, run, 2, 3, 130000 + run % 7, "no ACK");
    log += loglines::Attempt(t += 14000, run, 3, 0, 10500, "none");
    log += loglines::Run(t += 1000, run, 2, 3, "66.67");
    log += loglines::Event(t += 20000, "reconnect",
                           "\"run\":" + std::to_string(run + 1) + ",\"ok\":true");
  }
  return log;
}

TEST(EventLogReaderTest, AFileLargerThanItsChunkReadsAsTheWholeText) {
  ScratchDir dir;
  std::string log = ManyRuns(400);  // about 150 kB
  WriteFile(dir / "big.jsonl", log);
  SeriesBuilder wholeSeries(60), streamedSeries(60);
  EventLogReader whole(&wholeSeries), streamed(&streamedSeries, 1000);
  std::string error;
  ASSERT_TRUE(whole.Read(nullptr, log, "big.jsonl", "", &error)) << error;
  std::FILE *f = std::fopen((dir / "big.jsonl").c_str(), "rb");
  ASSERT_TRUE(streamed.Read(f, "", "big.jsonl", "", &error)) << error;
  std::fclose(f);
  ASSERT_EQ(streamed.Runs().size(), 400u);
  ASSERT_EQ(whole.Runs().size(), 400u);
  for (std::size_t i = 0; i < 400; ++i) {
    const LoggedRun &a = whole.Runs()[i], &b = streamed.Runs()[i];
    EXPECT_EQ(a.position.line, b.position.line);
    EXPECT_EQ(a.latency.p50Us, b.latency.p50Us);
    EXPECT_EQ(a.latency.maxUs, b.latency.maxUs);
    EXPECT_EQ(a.failures, b.failures);
  }
  // Run 10: latencies 10010, 130003, 10500: median 10500, max 130003.
  const LoggedRun &tenth = streamed.Runs()[9];
  EXPECT_EQ(tenth.position.line, 2 + 9 * 5 + 4);  // start, connect, 9 runs of 5 lines, 3 attempts
  EXPECT_EQ(tenth.latency.count, 3);
  EXPECT_EQ(tenth.latency.minUs, 10010);
  EXPECT_EQ(tenth.latency.p50Us, 10500);
  EXPECT_EQ(tenth.latency.AtPercent(90), 130003);
  EXPECT_EQ(tenth.latency.maxUs, 130003);
  EXPECT_EQ(tenth.failures, (std::map<std::string, int>{{"no ACK", 1}}));
  EXPECT_EQ(tenth.plannedAttempts, 3);
  EXPECT_TRUE(streamed.Notes().empty());
  EXPECT_EQ(SeriesCsv(wholeSeries.Build()), SeriesCsv(streamedSeries.Build()));
}

TEST(EventLogReaderTest, RunsWhoseAttemptsDoNotMatchTheirFiguresAreNamed) {
  std::string log = loglines::Start(0);
  for (int n = 1; n <= 3; ++n) log += loglines::Attempt(n * 1000, 1, n, 0, 12000, "none");
  log += loglines::Run(5000, 1, 100, 100, "100.00");  // claims 100, 3 were logged
  log += loglines::Attempt(6000, 2, 1, 0, 12000, "none");
  log += loglines::Attempt(7000, 2, 2, 2, 12000, "no card");
  log += loglines::Run(8000, 2, 2, 2, "100.00");  // two attempts, but one was no card
  EventLogReader reader;
  std::string error;
  ASSERT_TRUE(reader.Read(nullptr, log, "m.jsonl", "", &error)) << error;
  ASSERT_EQ(reader.Runs().size(), 2u);
  // The figures stay (the result file has them too); the attempts' details go.
  EXPECT_EQ(reader.Runs()[0].record.attempts, 100);
  EXPECT_EQ(reader.Runs()[0].latency.count, 0);
  EXPECT_EQ(reader.Runs()[1].latency.count, 0);
  EXPECT_TRUE(reader.Runs()[1].failures.empty());
  ASSERT_EQ(reader.Notes().size(), 2u);
  EXPECT_EQ(reader.Notes()[0],
            "m.jsonl:5: run 1 of kestrow has figures of 100 successes in 100 attempts but "
            "attempt events of 3 in 3; its latencies, failure classes and R/W losses are left out");
  EXPECT_EQ(reader.Notes()[1],
            "m.jsonl:8: run 2 of kestrow has figures of 2 successes in 2 attempts but attempt "
            "events of 1 in 2; its latencies, failure classes and R/W losses are left "
            "out");
}

TEST(EventLogReaderTest, ABadLineIsAnErrorWithFileAndLine) {
  std::string log =
      loglines::Start(0) + "\n" + loglines::Attempt(1000, 1, 1, 0, 9223372036854775807LL, "none");
  EventLogReader reader;
  std::string error;
  EXPECT_FALSE(reader.Read(nullptr, log, "bad.jsonl", "", &error));
  EXPECT_EQ(error, "bad.jsonl:3: \"us\" is out of range (0 to 3600000000)");
}

TEST(LogLineStreamTest, ALineLongerThanTheLimitIsRefusedBeforeItFillsMemory) {
  ScratchDir dir;
  WriteFile(dir / "long.txt", "short\n" + std::string(40, 'x') + "\n");
  std::FILE *f = std::fopen((dir / "long.txt").c_str(), "rb");
  logread::LineStream stream(f, "", 8, 32);
  std::string_view line;
  EXPECT_TRUE(stream.Next(&line));
  EXPECT_FALSE(stream.Next(&line));
  EXPECT_EQ(stream.Error(), "line 2 is longer than 32 bytes");
  std::fclose(f);
}

TEST(EventLogReaderTest, SetupsComeFromTheStartsOfEachLog) {
  std::string connect =
      "\"device\":\"/dev/ttyUSB1\",\"baud\":38400,\"des\":false,\"ok\":true,\"result\":0,"
      "\"failure\":\"none\"";
  std::string log = loglines::Start(1000000);
  log += loglines::Event(1100000, "open", "\"device\":\"/dev/ttyUSB1\",\"baud\":38400,\"ok\":true");
  log += loglines::Event(1200000, "connect", connect);
  log += loglines::Event(61000000, "stop", "\"reason\":\"key\"");
  // The same setup started again an hour later: one entry.
  log += loglines::Start(5000000, "2026-12-07T07:40:00Z");
  log += loglines::Event(5000000 + 125000000, "close", "\"result\":0");
  // Another tool in the same file: an entry of its own.
  log += loglines::Start(9000000, "2026-12-07T09:00:00Z", -1, "brimlet");
  EventLogReader reader;
  std::string error;
  ASSERT_TRUE(reader.Read(nullptr, log, "s.jsonl", "", &error)) << error;
  ASSERT_EQ(reader.Setups().size(), 2u);
  const LogSetup &first = reader.Setups()[0];
  EXPECT_EQ(first.file, "s.jsonl");
  EXPECT_EQ(first.tool, "kestrow");
  EXPECT_EQ(first.version, "1.1.0");
  EXPECT_EQ(first.port, "/dev/ttyUSB0");
  EXPECT_EQ(first.device, "/dev/ttyUSB1");
  EXPECT_EQ(first.baud, 115200);
  EXPECT_TRUE(first.des);
  EXPECT_EQ(first.ackMs, 50);
  EXPECT_EQ(first.responseMs, 50);
  EXPECT_EQ(first.starts, 2);
  EXPECT_EQ(FormatWallClock(first.firstWall), "2026-12-07T06:40:00Z");
  EXPECT_EQ(FormatWallClock(first.lastWall), "2026-12-07T07:42:05Z");
  EXPECT_EQ(reader.Setups()[1].tool, "brimlet");
  EXPECT_EQ(reader.Setups()[1].device, "");
}

}  // namespace
