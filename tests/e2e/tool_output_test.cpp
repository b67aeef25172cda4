// What the tools write, end to end, when things go wrong around them: a
// file that takes only part of a write, a pipe whose reader goes away, the
// same file named for records and log, signals and kills in the middle of a
// run, and keys that must not reach the log.
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "link/event_log.h"
#include "poll/result_record.h"
#include "tests/support/event_fields.h"
#include "tests/support/process.h"
#include "tests/support/pty_pair.h"
#include "tests/support/scratch_dir.h"
#include "tests/support/sim_process.h"
#include "tests/support/text_files.h"

namespace {

constexpr int kGenerousMs = 60000;
const std::string kRunOfThree = "ooo    [  3/  3] 100%\n(TOTAL) [   3/   3] ... 100.00%\n\n";

std::string Tool(const std::string &name) { return BinDir() + "/" + name; }

// Runs `args` (a program and its arguments) through a shell `script` that
// ends with `exec "$0" "$@"` or runs them as "$0" "$@".
RunResult RunInShell(const std::string &script, const std::vector<std::string> &args) {
  std::vector<std::string> all = {"-c", script};
  all.insert(all.end(), args.begin(), args.end());
  return RunProgram("/bin/bash", all, "", kGenerousMs);
}

std::string Kinds(const std::vector<EventFields> &events) {
  std::string kinds;
  for (const auto &e : events) kinds += e.at("ev") + ",";
  return kinds;
}

int Count(const std::vector<EventFields> &events, const std::string &kind) {
  int count = 0;
  for (const auto &e : events) count += e.at("ev") == kind;
  return count;
}

// A file size limit cuts the write of a record part way (SIGXFSZ ignored,
// so the write fails with EFBIG instead of killing the tool).
const char kFileLimit[] = "trap '' XFSZ; exec prlimit --fsize=\"$LIMIT\" -- \"$0\" \"$@\"";

TEST(WholeRecordTest, PartialRecordIsCutBackAndTheFileStaysReadable) {
  SimProcess sim({});
  ScratchDir dir;
  std::string file = dir / "results.csv";
  const std::string earlier = " 80.00%,   4,   5, 100.00%,   5,   5,";
  {
    std::FILE *f = std::fopen(file.c_str(), "w");
    std::fputs(earlier.c_str(), f);
    std::fclose(f);
  }
  std::vector<std::string> run = {Tool("brimlet"), "c",  sim.Path(), "t", "3", "f", file, "at",
                                  "2000",          "rt", "2000"};
  setenv("LIMIT", std::to_string(earlier.size() + 7).c_str(), 1);
  RunResult r = RunInShell(kFileLimit, run);
  unsetenv("LIMIT");
  EXPECT_NE(r.out.find(kRunOfThree), std::string::npos) << r.out;
  EXPECT_EQ(r.err, "Result file [" + file + "]: File too large\nResult file [" + file +
                       "]: the incomplete record was removed\n");
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(ReadFile(file), earlier);
  // With room again, the next run's record follows the earlier ones.
  r = RunProgram(run[0], {run.begin() + 1, run.end()}, "", kGenerousMs);
  EXPECT_EQ(r.exitCode, 0) << r.err;
  std::vector<ParsedRecord> records;
  std::string error;
  EXPECT_TRUE(ParseResultRecords(ReadFile(file), file, &records, &error)) << error;
  EXPECT_EQ(records.size(), 3u);

  // The event log keeps its whole lines and loses the part of one.
  std::string log = dir / "events.jsonl";
  setenv("LIMIT", "1500", 1);
  r = RunInShell(kFileLimit, {Tool("brimlet"), "c", sim.Path(), "t", "3", "log", log, "logframes",
                              "all", "at", "2000", "rt", "2000"});
  unsetenv("LIMIT");
  EXPECT_NE(r.out.find(kRunOfThree), std::string::npos) << r.out;
  EXPECT_EQ(r.err, "Cannot write the event log " + log + ": File too large\n");
  EXPECT_EQ(r.exitCode, 1);
  std::string text = ReadFile(log);
  EXPECT_LE(text.size(), 1500u);
  EXPECT_GT(text.size(), 1000u);
  std::vector<EventFields> events = EventsIn(text);
  ASSERT_FALSE(events.empty());
  EXPECT_EQ(events[0].at("ev"), "start");
}

// A full disk: a small tmpfs whose last page the result file shares with
// the record, so that the record's first bytes fit and the rest does not.
TEST(WholeRecordTest, FullDiskKeepsTheFileReadable) {
  if (geteuid() != 0) GTEST_SKIP() << "mounting a small tmpfs needs root";
  ScratchDir dir;
  std::string disk = dir / "disk";
  ASSERT_EQ(mkdir(disk.c_str(), 0700), 0);
  if (mount("tmpfs", disk.c_str(), "tmpfs", 0, "size=64k") != 0) {
    GTEST_SKIP() << "cannot mount a tmpfs here: " << std::strerror(errno);
  }
  struct Unmount {
    std::string path;
    ~Unmount() { umount2(path.c_str(), MNT_DETACH); }
  } unmount{disk};
  std::string file = disk + "/results.csv";
  const std::string record = " 80.00%,   4,   5,";
  std::string earlier;
  while (earlier.size() + record.size() <= 4096 - 10) earlier += record;
  earlier += std::string(4096 - 10 - earlier.size(), ' ');  // 10 bytes left in its page
  {
    std::FILE *f = std::fopen(file.c_str(), "w");
    std::fputs(earlier.c_str(), f);
    std::fclose(f);
    std::FILE *filler = std::fopen((disk + "/filler").c_str(), "w");
    std::string page(4096, 'x');
    while (std::fwrite(page.data(), 1, page.size(), filler) == page.size() &&
           std::fflush(filler) == 0) {
    }
    std::fclose(filler);
  }
  SimProcess sim({});
  RunResult r = RunProgram(Tool("brimlet"),
                           {"c", sim.Path(), "t", "3", "f", file, "at", "2000", "rt", "2000"}, "",
                           kGenerousMs);
  EXPECT_EQ(r.err, "Result file [" + file + "]: No space left on device\nResult file [" + file +
                       "]: the incomplete record was removed\n");
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(ReadFile(file), earlier);
  std::remove((disk + "/filler").c_str());
  r = RunProgram(Tool("brimlet"),
                 {"c", sim.Path(), "t", "3", "f", file, "at", "2000", "rt", "2000"}, "",
                 kGenerousMs);
  EXPECT_EQ(r.exitCode, 0) << r.err;
  std::vector<ParsedRecord> records;
  std::string error;
  EXPECT_TRUE(ParseResultRecords(ReadFile(file), file, &records, &error)) << error;
}

TEST(BrokenPipeTest, LogReaderThatQuitsIsALogWriteFailure) {
  SimProcess sim({});
  SimProcess unsealed({"--reader=secured", "--des=off"});
  ScratchDir dir;
  std::string fifo = dir / "events.fifo";
  std::string file = dir / "results.csv";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  // The reader takes the first 2000 bytes and goes.
  ChildProcess reader("/bin/sh", {"-c", "head -c 2000 \"$0\" >/dev/null", fifo});
  RunResult r = RunProgram(Tool("brimlet"),
                           {"c", sim.Path(), "t", "150", "f", file, "log", fifo, "logframes", "all",
                            "at", "2000", "rt", "2000"},
                           "", kGenerousMs);
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(r.err, "Cannot write the event log " + fifo + ": Broken pipe\n");
  // Polling went on to the end of the run.
  EXPECT_NE(r.out.find("(TOTAL) [ 150/ 150] ... 100.00%\n"), std::string::npos) << r.out;
  EXPECT_EQ(ReadFile(file), "100.00%, 150, 150,");
  EXPECT_EQ(reader.Wait(kGenerousMs), 0);

  // "log -" into a pipe closed early: the same, and the console is whole.
  r = RunInShell("exec \"$0\" \"$@\" 2> >(head -c 2000 >/dev/null)",
                 {Tool("kestrow"), "c", unsealed.Path(), "kagi", "off", "t", "150", "log", "-",
                  "logframes", "all", "at", "2000", "rt", "2000"});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_NE(r.out.find("(TOTAL) [ 150/ 150] ... 100.00%\n"), std::string::npos) << r.out;
}

TEST(BrokenPipeTest, ConsoleReaderThatQuitsEndsPollingInOrder) {
  SimProcess sim({});
  ScratchDir dir;
  std::string file = dir / "results.csv";
  std::string log = dir / "events.jsonl";
  RunResult r = RunInShell(
      "\"$0\" \"$@\" | head -c 120 >/dev/null; exit ${PIPESTATUS[0]}",
      {Tool("brimlet"), "c", sim.Path(), "f", file, "log", log, "at", "2000", "rt", "2000"});
  EXPECT_EQ(r.exitCode, 1) << r.err;
  EXPECT_EQ(r.err, "Cannot write to standard output: Broken pipe\n");
  std::vector<ParsedRecord> records;
  std::string error;
  ASSERT_TRUE(ParseResultRecords(ReadFile(file), file, &records, &error)) << error;
  ASSERT_EQ(records.size(), 1u);
  EXPECT_LT(records[0].record.attempts, 100);  // a run cut short
  std::vector<EventFields> events = EventsIn(ReadFile(log));
  ASSERT_FALSE(events.empty());
  std::string reason;
  for (const auto &e : events) {
    if (e.at("ev") == "stop") reason = e.at("reason");
  }
  EXPECT_EQ(reason, "output closed");
  EXPECT_EQ(events.back().at("ev"), "close");
}

TEST(SameFileTest, ResultFileAndLogMustBeApart) {
  ScratchDir dir;
  std::string existing = dir / "both.txt";
  {
    std::FILE *f = std::fopen(existing.c_str(), "w");
    std::fputs("x", f);
    std::fclose(f);
  }
  ASSERT_EQ(link(existing.c_str(), (dir / "hard").c_str()), 0);
  ASSERT_EQ(mkdir((dir / "sub").c_str(), 0700), 0);
  const struct {
    std::string result, log;
  } kCases[] = {
      {existing, existing},
      {dir / "sub/../both.txt", existing},   // the same path, written otherwise
      {dir / "hard", existing},              // a hard link
      {dir / "new.txt", dir / "./new.txt"},  // not there yet
  };
  for (const auto &c : kCases) {
    for (const char *tool : {"kestrow", "brimlet"}) {
      RunResult r = RunProgram(Tool(tool), {"c", dir / "no-port", "f", c.result, "log", c.log});
      EXPECT_EQ(r.exitCode, 2) << c.result;
      EXPECT_EQ(r.err, "The result file (f " + c.result + ") and the event log (log " + c.log +
                           ") are the same file\n");
      EXPECT_EQ(r.out, "\n");
    }
  }
  EXPECT_EQ(ReadFile(existing), "x");
  EXPECT_EQ(ReadFile(dir / "new.txt"), "<missing>");
  // Apart, or a device that takes anything: the run goes on (to the port).
  RunResult r =
      RunProgram(Tool("brimlet"), {"c", dir / "no-port", "f", "/dev/null", "log", "/dev/null"});
  EXPECT_EQ(r.exitCode, 1) << r.err;
}

TEST(LogOnEveryExitTest, InterruptWhileConnectingKeepsWhatHappened) {
  PtyPair pty;
  ScratchDir dir;
  std::string log = dir / "events.jsonl";
  ChildProcess tool(Tool("brimlet"), {"c", pty.SlavePath(), "log", log});
  ASSERT_EQ(pty.Read(11, kGenerousMs).size(), 11u);  // the open command
  pty.Write({0x00, 0x00, 0xFF, 0x00, 0xFF, 0x00});   // its ACK; the answer never comes
  // The ACK's event is in the log once it has been read.
  for (int i = 0; i < 600 && ReadFile(log).find("\"ev\":\"rx\"") == std::string::npos; ++i) {
    usleep(50000);
  }
  tool.Signal(SIGINT);
  EXPECT_EQ(tool.Wait(30000), 128 + SIGINT);
  EXPECT_EQ(Kinds(EventsIn(ReadFile(log))), "start,open,tx,rx,");
}

TEST(LogOnEveryExitTest, KillLosesOnlyTheLastMoments) {
  SimProcess sim({});
  ScratchDir dir;
  std::string log = dir / "events.jsonl";
  ChildProcess tool(Tool("brimlet"),
                    {"c", sim.Path(), "t", "1000", "log", log, "at", "2000", "rt", "2000"});
  // 100 attempts take more than 1.4 seconds (a 10 ms drain and a 4 ms pause
  // each): the log has been written out at least once in them, long before
  // its buffer is full.
  ASSERT_TRUE(sim.WaitForCommands("poll", 100, kGenerousMs));
  tool.Signal(SIGKILL);
  tool.Wait(30000);
  std::vector<EventFields> events = EventsIn(ReadFile(log));
  EXPECT_GE(Count(events, "attempt"), 20);
  EXPECT_EQ(Count(events, "run"), 0);
}

TEST(KeyTest, NoKeyReachesAnyLog) {
  SimProcess secured({"--reader=secured", "--ka=0123456789ABCDEF", "--kb=FEDCBA9876543210"});
  SimProcess unsealed({"--reader=secured", "--des=off"});
  SimProcess plain({});
  const struct {
    const char *tool;
    std::string port;
    std::vector<std::string> keys;
    const char *kaKcv, *kbKcv;
  } kCases[] = {
      {"kestrow",
       secured.Path(),
       {"ka", "0123456789ABCDEF", "kb", "FEDCBA9876543210"},
       "D5D44F",
       "A68CDC"},
      {"kestrow", unsealed.Path(), {"kagi", "off"}, "570A39", "66C4B6"},
      {"brimlet", plain.Path(), {"ka", "0123456789abcdef"}, "D5D44F", "66C4B6"},
      {"brimlet", plain.Path(), {}, "570A39", "66C4B6"},
  };
  for (const auto &c : kCases) {
    std::vector<std::string> args = {"c", c.port, "t", "2", "log", "-", "logframes", "all"};
    args.insert(args.end(), c.keys.begin(), c.keys.end());
    RunResult r = RunProgram(Tool(c.tool), args, "", kGenerousMs);
    SCOPED_TRACE(std::string(c.tool) + " " + c.kaKcv);
    std::vector<EventFields> events = EventsIn(r.err);
    ASSERT_FALSE(events.empty());
    EXPECT_EQ(events[0].at("ka_kcv"), c.kaKcv);
    EXPECT_EQ(events[0].at("kb_kcv"), c.kbKcv);
    EXPECT_EQ(events[0].count("ka") + events[0].count("kb"), 0u);
    // Neither key, in any case or spacing, in any event.
    std::string flat;
    for (char ch : r.err) {
      if (ch != ' ') flat += static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
    }
    for (const char *key :
         {"0123456789ABCDEF", "FEDCBA9876543210", "5A3C960F71E248BD", "C31E87642BD950A6"}) {
      EXPECT_EQ(flat.find(key), std::string::npos) << key;
    }
  }
}

}  // namespace
