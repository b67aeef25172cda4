// Runs a program on a pseudo-terminal that is the controlling terminal of a
// session of its own, in the foreground process group or as a background
// job, so that tests can see what the program does to its terminal.
#pragma once

#include <sys/types.h>

#include <functional>
#include <string>
#include <vector>

// The program as the session leader sees it. Every wait gives up after its
// time-out.
class TerminalTool {
 public:
  TerminalTool(pid_t pid, int terminal, int master, int output)
      : pid_(pid), terminal_(terminal), master_(master), out_(output) {}
  pid_t Pid() const { return pid_; }
  // True when the terminal is in the key mode (no echo, no line editing).
  bool KeyMode() const;
  // Waits until KeyMode() equals `on`.
  bool WaitForKeyMode(bool on, int timeoutMs) const;
  // Writes to the terminal as if typed.
  void Type(const std::string &text) const;
  // Makes the background job the foreground one and continues it (`fg`).
  void BringToForeground() const;
  // True once the program has stopped (job control).
  bool WaitStopped(int timeoutMs);
  // The exit code, 128 + the signal number when killed, 1000 + the signal
  // when it stopped, -1 on time-out (the program is then killed).
  int WaitExit(int timeoutMs);
  // Waits until standard output and error show `text`.
  bool WaitForOutput(const std::string &text, int timeoutMs);
  // Standard output and error as read so far.
  const std::string &Output();

 private:
  void Pump(int timeoutMs);
  pid_t pid_;
  int terminal_;
  int master_;
  int out_;
  std::string text_;
};

// Starts `program` with `args` in a new session on a fresh pseudo-terminal
// (standard input on the terminal, output to a pipe), in the foreground or
// in the background, and runs `scenario` in the session leader. Returns
// what the scenario returns ("" when all was as expected), or a text saying
// why the session could not be run.
std::string RunInTerminal(const std::string &program, const std::vector<std::string> &args,
                          bool foreground,
                          const std::function<std::string(TerminalTool &)> &scenario);
