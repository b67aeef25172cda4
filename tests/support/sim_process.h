// The R/W simulator running in the background for end-to-end tests.
#pragma once

#include <string>
#include <vector>

#include "tests/support/process.h"

class SimProcess {
 public:
  explicit SimProcess(std::vector<std::string> args)
      : child_(BinDir() + "/rwsim", WithTrace(std::move(args))) {
    path_ = child_.ReadLine(5000);
  }
  ~SimProcess() { child_.Signal(15); }
  const std::string &Path() const { return path_; }
  // Waits until the trace shows `count` frames from the host named `name`
  // ("poll", "open", ...).
  bool WaitForCommands(const std::string &name, int count, int timeoutMs) {
    return child_.WaitForErrors("  " + name + "\n", count, timeoutMs);
  }
  // Stops the simulator and returns its trace of frames.
  std::string StopAndTrace() {
    child_.Signal(15);
    child_.Wait(5000);
    return child_.Errors();
  }

 private:
  static std::vector<std::string> WithTrace(std::vector<std::string> args) {
    args.push_back("--trace");
    return args;
  }
  ChildProcess child_;
  std::string path_;
};

// The names of the commands that reached the R/W, in order, comma-separated,
// as the simulator's trace decodes them.
std::string CommandSequence(const std::string &trace);
