#include "tests/support/process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cstdlib>
#include <stdexcept>

namespace {

long long NowMs() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return ts.tv_sec * 1000LL + ts.tv_nsec / 1000000;
}

}  // namespace

std::string BinDir() {
  const char *dir = std::getenv("BIN_DIR");
  return dir ? dir : ".";
}

ChildProcess::ChildProcess(const std::string &program, const std::vector<std::string> &args) {
  int in[2], out[2], err[2];
  if (pipe(in) != 0 || pipe(out) != 0 || pipe(err) != 0) throw std::runtime_error("pipe");
  pid_ = fork();
  if (pid_ == 0) {
    dup2(in[0], 0);
    dup2(out[1], 1);
    dup2(err[1], 2);
    for (int fd : {in[0], in[1], out[0], out[1], err[0], err[1]}) close(fd);
    std::vector<char *> argv;
    argv.push_back(const_cast<char *>(program.c_str()));
    for (const std::string &a : args) argv.push_back(const_cast<char *>(a.c_str()));
    argv.push_back(nullptr);
    execv(program.c_str(), argv.data());
    _exit(127);
  }
  close(in[0]);
  close(out[1]);
  close(err[1]);
  in_ = in[1];
  outFd_ = out[0];
  errFd_ = err[0];
  signal(SIGPIPE, SIG_IGN);
}

ChildProcess::~ChildProcess() {
  if (pid_ > 0) {
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
  }
  for (int fd : {in_, outFd_, errFd_}) {
    if (fd >= 0) close(fd);
  }
}

bool ChildProcess::Pump(int timeoutMs) {
  pollfd fds[2] = {{outFd_, POLLIN, 0}, {errFd_, POLLIN, 0}};
  int n = poll(fds, 2, timeoutMs);
  if (n <= 0) return false;
  bool any = false;
  char buffer[4096];
  for (int i = 0; i < 2; ++i) {
    if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP))) continue;
    ssize_t got = read(fds[i].fd, buffer, sizeof buffer);
    if (got > 0) {
      (i == 0 ? out_ : err_).append(buffer, static_cast<std::size_t>(got));
      any = true;
    } else {
      close(fds[i].fd);
      (i == 0 ? outFd_ : errFd_) = -1;
    }
  }
  return any || outFd_ >= 0 || errFd_ >= 0;
}

const std::string &ChildProcess::ReadUntil(const std::string &text, int timeoutMs) {
  long long end = NowMs() + timeoutMs;
  while (out_.find(text) == std::string::npos && NowMs() < end && (outFd_ >= 0 || errFd_ >= 0)) {
    Pump(static_cast<int>(end - NowMs()));
  }
  return out_;
}

namespace {

int CountOf(const std::string &haystack, const std::string &text) {
  int n = 0;
  for (std::size_t at = haystack.find(text); at != std::string::npos;
       at = haystack.find(text, at + text.size())) {
    ++n;
  }
  return n;
}

}  // namespace

bool ChildProcess::WaitForErrors(const std::string &text, int count, int timeoutMs) {
  long long end = NowMs() + timeoutMs;
  while (CountOf(err_, text) < count) {
    if (NowMs() >= end || (outFd_ < 0 && errFd_ < 0)) return false;
    Pump(static_cast<int>(end - NowMs()));
  }
  return true;
}

std::string ChildProcess::ReadLine(int timeoutMs) {
  long long end = NowMs() + timeoutMs;
  while (out_.find('\n', lineStart_) == std::string::npos && NowMs() < end && outFd_ >= 0) {
    Pump(static_cast<int>(end - NowMs()));
  }
  std::size_t nl = out_.find('\n', lineStart_);
  if (nl == std::string::npos) return "";
  std::string line = out_.substr(lineStart_, nl - lineStart_);
  lineStart_ = nl + 1;
  return line;
}

void ChildProcess::WriteInput(const std::string &text) {
  if (write(in_, text.data(), text.size()) < 0) throw std::runtime_error("write to child");
}

void ChildProcess::CloseInput() {
  if (in_ >= 0) close(in_);
  in_ = -1;
}

void ChildProcess::Signal(int signalNumber) {
  if (pid_ > 0) kill(pid_, signalNumber);
}

int ChildProcess::Wait(int timeoutMs) {
  long long end = NowMs() + timeoutMs;
  int status = 0;
  for (;;) {
    pid_t r = waitpid(pid_, &status, WNOHANG);
    if (r == pid_) break;
    if (NowMs() >= end) return -1;
    if (!Pump(20)) usleep(5000);
  }
  pid_ = -1;
  for (int i = 0; i < 50 && (outFd_ >= 0 || errFd_ >= 0); ++i) Pump(100);
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  return 128 + WTERMSIG(status);
}

RunResult RunProgram(const std::string &program, const std::vector<std::string> &args,
                     const std::string &input, int timeoutMs) {
  ChildProcess child(program, args);
  if (!input.empty()) child.WriteInput(input);
  child.CloseInput();
  RunResult result;
  result.exitCode = child.Wait(timeoutMs);
  result.out = child.Output();
  result.err = child.Errors();
  return result;
}
