// Runs the built programs from tests: one-shot runs with captured output,
// and long-running programs (the simulator) read line by line.
#pragma once

#include <sys/types.h>
#include <string>
#include <vector>

// The folder holding the built programs.
std::string BinDir();

struct RunResult {
  std::string out;
  std::string err;
  int exitCode = -1;  // -1: killed or did not end in time
};

// Runs `program` (a path) with `args`; standard input is `input`, then end
// of file. Gives up and kills it after `timeoutMs`.
RunResult RunProgram(const std::string &program, const std::vector<std::string> &args,
                     const std::string &input = "", int timeoutMs = 60000);

// A program running in the background with pipes on its standard streams.
class ChildProcess {
 public:
  ChildProcess(const std::string &program, const std::vector<std::string> &args);
  ~ChildProcess();
  ChildProcess(const ChildProcess &) = delete;
  ChildProcess &operator=(const ChildProcess &) = delete;

  // Reads standard output until `text` has appeared or `timeoutMs` passed;
  // returns everything read so far.
  const std::string &ReadUntil(const std::string &text, int timeoutMs);
  std::string ReadLine(int timeoutMs);
  // Reads until `text` has appeared `count` times on standard error; false
  // when `timeoutMs` passed first.
  bool WaitForErrors(const std::string &text, int count, int timeoutMs);
  void WriteInput(const std::string &text);
  void CloseInput();
  void Signal(int signalNumber);
  // Waits for the end; reads the rest of the output. Returns the exit code,
  // 128 + the signal number when killed, or -1 on time-out.
  int Wait(int timeoutMs);
  const std::string &Output() const { return out_; }
  const std::string &Errors() const { return err_; }

 private:
  bool Pump(int timeoutMs);
  pid_t pid_ = -1;
  int in_ = -1;
  int outFd_ = -1;
  int errFd_ = -1;
  std::string out_;
  std::string err_;
  std::size_t lineStart_ = 0;
};
