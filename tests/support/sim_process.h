// The R/W simulator running in the background for end-to-end tests.
#pragma once

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/process.h"

// Its trace is read all the time in the background: a trace left in a full
// pipe would stall the simulator in the middle of a long run.
class SimProcess {
 public:
  explicit SimProcess(std::vector<std::string> args)
      : child_(BinDir() + "/rwsim", WithTrace(std::move(args))) {
    path_ = child_.ReadLine(5000);
    reader_ = std::thread([this] {
      while (!stopReading_) child_.Pump(50);
    });
  }
  ~SimProcess() {
    StopReading();
    child_.Signal(15);
  }
  const std::string &Path() const { return path_; }
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
  std::atomic<bool> stopReading_{false};
  std::thread reader_;
};

// The names of the commands that reached the R/W, in order, comma-separated,
// as the simulator's trace decodes them.
std::string CommandSequence(const std::string &trace);
