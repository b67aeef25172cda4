// What the end-to-end tests of rwstation share: the program, plans written
// to files, counts in outputs, the files an orderly end leaves, and the
// station on a terminal of its own.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/process.h"
#include "tests/support/scratch_dir.h"
#include "tests/support/text_files.h"

constexpr int kGenerousMs = 120000;

inline std::string Station() { return BinDir() + "/rwstation"; }

inline int CountOf(const std::string &text, const std::string &part) {
  int count = 0;
  for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
    ++count;
  return count;
}

inline std::string WritePlan(const ScratchDir &dir, const std::string &text,
                             const std::string &name = "plan") {
  std::string path = dir / name;
  std::FILE *f = std::fopen(path.c_str(), "w");
  std::fputs(text.c_str(), f);
  std::fclose(f);
  return path;
}

// What a reader left in the session folder after an orderly end: as many
// records as its log has runs, and its stop, and the close command.
inline void ExpectOrderlyFiles(const std::string &folder, const std::string &name,
                               const std::string &reason) {
  std::string log = ReadFile(folder + "/" + name + ".log");
  std::string records = ReadFile(folder + "/" + name + ".txt");
  int runs = CountOf(log, "\"ev\":\"run\"");
  EXPECT_GE(runs, 1) << name;
  EXPECT_EQ(CountOf(records, "%,"), runs) << name << ": " << records;
  EXPECT_EQ(CountOf(log, "\"ev\":\"stop\",\"reason\":\"" + reason + "\""), 1) << name;
  EXPECT_EQ(CountOf(log, "\"ev\":\"close\""), 1) << name;
}

// The station on a terminal of its own, as a person runs it.
// Reads the station's output until `text` has appeared `count` times.
inline bool WaitForCount(ChildProcess &station, const std::string &text, int count, int timeoutMs) {
  auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (CountOf(station.Output(), text) < count) {
    if (std::chrono::steady_clock::now() >= end) return false;
    station.Pump(50);
  }
  return true;
}

// `program` with `args`, run by a shell in the folder `dir` after `setup`
// (shell commands such as "ulimit -n 12").
inline std::vector<std::string> InFolder(const std::string &dir, const std::string &setup,
                                         const std::string &program,
                                         std::vector<std::string> args) {
  std::vector<std::string> words{"-c", "cd \"$1\" || exit 99; shift; " + setup + "\nexec \"$@\"",
                                 "sh", dir, program};
  words.insert(words.end(), args.begin(), args.end());
  return words;
}

struct TerminalRun {
  pid_t pid = -1;
  int master = -1;
  std::string screen;

  TerminalRun(const std::string &program, const std::vector<std::string> &args, int rows = 40,
              int columns = 200) {
    master = posix_openpt(O_RDWR | O_NOCTTY);
    if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) return;
    winsize size{};
    size.ws_row = static_cast<unsigned short>(rows);
    size.ws_col = static_cast<unsigned short>(columns);
    std::string slave = ptsname(master);
    pid = fork();
    if (pid == 0) {
      setsid();
      int terminal = open(slave.c_str(), O_RDWR);  // the controlling terminal
      ioctl(terminal, TIOCSWINSZ, &size);
      for (int fd = 0; fd < 3; ++fd) dup2(terminal, fd);
      std::vector<char *> argv{const_cast<char *>(program.c_str())};
      for (const std::string &a : args) argv.push_back(const_cast<char *>(a.c_str()));
      argv.push_back(nullptr);
      execv(program.c_str(), argv.data());
      _exit(127);
    }
  }
  ~TerminalRun() {
    if (pid > 0) {
      kill(pid, SIGKILL);
      waitpid(pid, nullptr, 0);
    }
    if (master >= 0) close(master);
  }
  void Pump(int timeoutMs) {
    pollfd p{master, POLLIN, 0};
    if (poll(&p, 1, timeoutMs) <= 0) return;
    char buffer[4096];
    ssize_t n = read(master, buffer, sizeof buffer);
    if (n > 0) screen.append(buffer, static_cast<std::size_t>(n));
  }
  bool WaitFor(const std::vector<std::string> &texts, int timeoutMs) {
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (std::chrono::steady_clock::now() < end) {
      bool all = true;
      for (const std::string &text : texts) all = all && screen.find(text) != std::string::npos;
      if (all) return true;
      Pump(50);
    }
    return false;
  }
  int WaitExit(int timeoutMs) {
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    int status = 0;
    while (waitpid(pid, &status, WNOHANG) == 0) {
      if (std::chrono::steady_clock::now() >= end) return -1;
      Pump(50);
    }
    pid = -1;
    Pump(200);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  }
};
