#include "tests/support/terminal_session.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <cstring>

namespace {

long long NowMs() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return ts.tv_sec * 1000LL + ts.tv_nsec / 1000000;
}

void SleepMs(int ms) {
  timespec pause{ms / 1000, (ms % 1000) * 1000000L};
  nanosleep(&pause, nullptr);
}

[[noreturn]] void ExecTool(const std::string &program, const std::vector<std::string> &args,
                           int terminal, int output, int go) {
  char ready;
  if (read(go, &ready, 1) != 1) _exit(126);  // wait until the job is placed
  dup2(terminal, 0);
  dup2(output, 1);
  dup2(output, 2);
  rlimit noCore{0, 0};
  setrlimit(RLIMIT_CORE, &noCore);
  for (int sig : {SIGINT, SIGQUIT, SIGTSTP, SIGTTOU, SIGTTIN, SIGHUP, SIGPIPE})
    signal(sig, SIG_DFL);
  std::vector<char *> argv{const_cast<char *>(program.c_str())};
  for (const std::string &a : args) argv.push_back(const_cast<char *>(a.c_str()));
  argv.push_back(nullptr);
  execv(program.c_str(), argv.data());
  _exit(127);
}

// The session leader: takes the terminal, starts the tool in a process
// group of its own, runs the scenario. Writes the report to `report`.
void LeadSession(const std::string &program, const std::vector<std::string> &args, bool foreground,
                 const std::function<std::string(TerminalTool &)> &scenario, int report) {
  auto finish = [report](const std::string &text) {
    if (!text.empty() && write(report, text.data(), text.size()) < 0) _exit(3);
    _exit(0);
  };
  setsid();
  int master = posix_openpt(O_RDWR | O_NOCTTY);
  if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) finish("no pseudo-terminal");
  int terminal = open(ptsname(master), O_RDWR);  // becomes the controlling terminal
  int out[2], go[2];
  if (terminal < 0 || pipe(out) != 0 || pipe(go) != 0) finish("no terminal or pipe");
  signal(SIGTTOU, SIG_IGN);  // the leader hands the terminal to the job
  pid_t pid = fork();
  if (pid == 0) {
    setpgid(0, 0);
    close(out[0]);
    close(go[1]);
    ExecTool(program, args, terminal, out[1], go[0]);
  }
  close(out[1]);
  close(go[0]);
  setpgid(pid, pid);
  if (foreground) tcsetpgrp(terminal, pid);
  if (write(go[1], "g", 1) != 1) finish("cannot start the tool");
  TerminalTool tool(pid, terminal, master, out[0]);
  std::string result = scenario(tool);
  if (tool.WaitExit(100) == -1) result += " (the tool had to be killed)";
  finish(result);
}

}  // namespace

bool TerminalTool::KeyMode() const {
  termios tio;
  return tcgetattr(terminal_, &tio) == 0 && !(tio.c_lflag & (ICANON | ECHO));
}

bool TerminalTool::WaitForKeyMode(bool on, int timeoutMs) const {
  long long end = NowMs() + timeoutMs;
  while (KeyMode() != on) {
    if (NowMs() >= end) return false;
    SleepMs(10);
  }
  return true;
}

void TerminalTool::Type(const std::string &text) const {
  // What the master side writes arrives as the terminal's keyboard input.
  if (write(master_, text.data(), text.size()) < 0) return;
}

void TerminalTool::Pump(int timeoutMs) {
  pollfd pfd{out_, POLLIN, 0};
  if (out_ < 0 || poll(&pfd, 1, timeoutMs) <= 0) return;
  char buffer[4096];
  ssize_t n = read(out_, buffer, sizeof buffer);
  if (n > 0) {
    text_.append(buffer, static_cast<std::size_t>(n));
  } else {
    close(out_);
    out_ = -1;
  }
}

bool TerminalTool::WaitForOutput(const std::string &text, int timeoutMs) {
  long long end = NowMs() + timeoutMs;
  while (text_.find(text) == std::string::npos) {
    if (NowMs() >= end || out_ < 0) return false;
    Pump(10);
  }
  return true;
}

const std::string &TerminalTool::Output() {
  Pump(0);
  return text_;
}

void TerminalTool::BringToForeground() const {
  tcsetpgrp(terminal_, pid_);
  kill(pid_, SIGCONT);
}

bool TerminalTool::WaitStopped(int timeoutMs) {
  long long end = NowMs() + timeoutMs;
  for (;;) {
    int status = 0;
    pid_t r = waitpid(pid_, &status, WNOHANG | WUNTRACED);
    if (r == pid_) return WIFSTOPPED(status);
    if (NowMs() >= end) return false;
    Pump(10);
  }
}

int TerminalTool::WaitExit(int timeoutMs) {
  if (pid_ <= 0) return -2;
  long long end = NowMs() + timeoutMs;
  for (;;) {
    int status = 0;
    pid_t r = waitpid(pid_, &status, WNOHANG | WUNTRACED);
    if (r == pid_ && WIFSTOPPED(status)) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
      pid_ = -1;
      return 1000 + WSTOPSIG(status);
    }
    if (r == pid_) {
      pid_ = -1;
      for (int i = 0; i < 20 && out_ >= 0; ++i) Pump(50);
      return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
    if (NowMs() >= end) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
      pid_ = -1;
      return -1;
    }
    Pump(10);
  }
}

std::string RunInTerminal(const std::string &program, const std::vector<std::string> &args,
                          bool foreground,
                          const std::function<std::string(TerminalTool &)> &scenario) {
  int report[2];
  if (pipe2(report, O_CLOEXEC) != 0) return "no pipe";
  pid_t leader = fork();
  if (leader == 0) {
    close(report[0]);
    LeadSession(program, args, foreground, scenario, report[1]);
  }
  close(report[1]);
  std::string text;
  char buffer[1024];
  ssize_t n;
  while ((n = read(report[0], buffer, sizeof buffer)) > 0)
    text.append(buffer, static_cast<std::size_t>(n));
  close(report[0]);
  int status = 0;
  waitpid(leader, &status, 0);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) text += " (the session leader failed)";
  return text;
}
