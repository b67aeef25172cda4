// The R/W simulator running in the background for end-to-end tests.
#pragma once

#include <atomic>
#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/process.h"

// Its trace is read all the time in the background: a trace left in a full
// pipe would stall the simulator in the middle of a long run.
class SimProcess {
 public:
  // Without `trace` the simulator writes no trace, and the test process
  // reads and keeps nothing while it runs (for tests that measure its memory).
  explicit SimProcess(std::vector<std::string> args, bool trace = true)
      : child_(BinDir() + "/rwsim", trace ? WithTrace(std::move(args)) : std::move(args)) {
    path_ = child_.ReadLine(5000);
    reader_ = std::thread([this] {
      while (!stopReading_) {
        {
          std::lock_guard<std::mutex> lock(mutex_);
          child_.Pump(20);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
      }
    });
  }
  ~SimProcess() {
    StopReading();
    child_.Signal(15);
  }
  const std::string &Path() const { return path_; }
  // Waits until the trace shows `count` frames from the host named `name`
  // ("poll", "open", ...).
  bool WaitForCommands(const std::string &name, int count, int timeoutMs) {
    return WaitForTrace("  " + name + "\n", count, timeoutMs);
  }
  // Waits until the trace holds `text` `count` times.
  bool WaitForTrace(const std::string &text, int count, int timeoutMs) {
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (TraceCount(text) < count) {
      if (std::chrono::steady_clock::now() >= end) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
  }
  // How often the trace so far holds `text`.
  int TraceCount(const std::string &text) {
    std::lock_guard<std::mutex> lock(mutex_);
    int count = 0;
    const std::string &trace = child_.Errors();
    for (std::size_t at = trace.find(text); at != std::string::npos;
         at = trace.find(text, at + 1)) {
      ++count;
    }
    return count;
  }
  // Stops the simulator and returns its trace of frames.
  std::string StopAndTrace() {
    StopReading();
    child_.Signal(15);
    child_.Wait(5000);
    return child_.Errors();
  }

 private:
  static std::vector<std::string> WithTrace(std::vector<std::string> args) {
    args.push_back("--trace");
    return args;
  }
  void StopReading() {
    stopReading_ = true;
    if (reader_.joinable()) reader_.join();
  }
  ChildProcess child_;
  std::string path_;
  std::mutex mutex_;  // the reader thread and the test share child_
  std::atomic<bool> stopReading_{false};
  std::thread reader_;
};

// The names of the commands that reached the R/W, in order, comma-separated,
// as the simulator's trace decodes them.
std::string CommandSequence(const std::string &trace);
