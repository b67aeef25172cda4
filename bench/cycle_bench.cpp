// Attempt cycles of the real tools against a zero-delay simulator: runs
// brimlet and kestrow (DES on and off) for one run of attempts each, takes
// the time of every mark as it appears on the tool's standard output, and
// prints the median and 99th percentile of the time between marks next to
// the protocol's floor (input drain + pause after the attempt + the frames'
// time on the line), their ratio, the tool's CPU share of one core and its
// peak memory. Asserts nothing.
//
//   build/cycle_bench [attempts]     (default 1000, at most 1000)
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "link/frame.h"
#include "secure/secure_messaging.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kBaudRate = 115200;
constexpr int kBitsPerByte = 10;  // start bit, 8 data bits, stop bit
constexpr double kDrainMs = 10;   // the drain's read that finds nothing
constexpr double kPauseMs = 4;    // the loop's pause after every attempt

// Data bytes of a sealed message whose clear length byte is `length`.
int Sealed(int length) {
  int blocks = (length - 1 + secure::kBlockSize - 1) / secure::kBlockSize;
  return secure::kBlockSize * (blocks + 1) + 1;
}

struct Case {
  const char *name;
  const char *tool;
  std::vector<std::string> simArgs;
  std::vector<std::string> toolArgs;
  int commandData;   // data bytes of the polling command frame
  int responseData;  // data bytes of the polling answer frame
};

double FloorMs(const Case &c) {
  int wireBytes = c.commandData + frame::kOverhead + 6 + c.responseData + frame::kOverhead;
  return kDrainMs + kPauseMs + 1000.0 * wireBytes * kBitsPerByte / kBaudRate;
}

struct Child {
  pid_t pid = -1;
  int out = -1;
};

Child Start(const std::string &program, const std::vector<std::string> &args) {
  int out[2];
  if (pipe(out) != 0) std::exit(2);
  Child child;
  child.pid = fork();
  if (child.pid == 0) {
    int null = open("/dev/null", O_RDWR);
    dup2(null, 0);
    dup2(out[1], 1);
    dup2(null, 2);
    close(out[0]);
    std::vector<char *> argv{const_cast<char *>(program.c_str())};
    for (const std::string &a : args) argv.push_back(const_cast<char *>(a.c_str()));
    argv.push_back(nullptr);
    execv(program.c_str(), argv.data());
    _exit(127);
  }
  close(out[1]);
  child.out = out[0];
  return child;
}

std::string ReadLine(int fd) {
  std::string line;
  char c;
  while (read(fd, &c, 1) == 1 && c != '\n') line += c;
  return line;
}

// The times of the marks on the tool's output: after the banner (which
// ends with an empty line), before the total line.
std::vector<Clock::time_point> MarkTimes(int fd) {
  std::vector<Clock::time_point> times;
  std::string seen;
  bool marks = false;
  char buffer[4096];
  ssize_t n;
  while ((n = read(fd, buffer, sizeof buffer)) > 0) {
    Clock::time_point now = Clock::now();
    for (ssize_t i = 0; i < n; ++i) {
      char c = buffer[i];
      if (!marks) {
        seen += c;
        marks = seen.size() > 3 && seen.compare(seen.size() - 3, 3, ">\n\n") == 0;
      } else if (c == '(') {
        return times;
      } else if (c == 'o' || c == '.' || c == 'X') {
        times.push_back(now);
      }
    }
  }
  return times;
}

double Percentile(std::vector<double> values, double share) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  std::size_t at = static_cast<std::size_t>(share * (values.size() - 1) + 0.5);
  return values[at];
}

void RunCase(const std::string &bin, const Case &c, int attempts) {
  Child sim = Start(bin + "/rwsim", c.simArgs);
  std::string path = ReadLine(sim.out);
  std::vector<std::string> args = {"c", path, "t", std::to_string(attempts)};
  args.insert(args.end(), c.toolArgs.begin(), c.toolArgs.end());
  Clock::time_point start = Clock::now();
  Child tool = Start(bin + "/" + c.tool, args);
  std::vector<Clock::time_point> times = MarkTimes(tool.out);
  char rest[4096];
  while (read(tool.out, rest, sizeof rest) > 0) {
  }
  int status = 0;
  rusage usage{};
  wait4(tool.pid, &status, 0, &usage);
  double wallMs = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
  kill(sim.pid, SIGTERM);
  waitpid(sim.pid, nullptr, 0);
  close(sim.out);
  close(tool.out);
  std::vector<double> cycles;
  for (std::size_t i = 1; i < times.size(); ++i) {
    cycles.push_back(std::chrono::duration<double, std::milli>(times[i] - times[i - 1]).count());
  }
  double cpuMs = (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1000.0 +
                 (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1000.0;
  double median = Percentile(cycles, 0.5);
  double floor = FloorMs(c);
  std::printf("%-19s %5zu %8.2f %8.2f %8.2f %7.3f %7.3f %7.2f%% %8ld\n", c.name, times.size(),
              median, Percentile(cycles, 0.99), floor, median / floor,
              median / (kDrainMs + kPauseMs), 100.0 * cpuMs / wallMs, usage.ru_maxrss);
}

std::string OwnFolder(const char *argv0) {
  std::string path = argv0;
  std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? "." : path.substr(0, slash);
}

}  // namespace

int main(int argc, char **argv) {
  int attempts = argc > 1 ? std::atoi(argv[1]) : 1000;
  if (attempts < 2 || attempts > 1000) attempts = 1000;
  const char *binDir = std::getenv("BIN_DIR");
  std::string bin = binDir ? binDir : OwnFolder(argv[0]);
  // The event log's cost: the same runs with `log` into a private folder.
  char folder[] = "/tmp/cycle-bench-XXXXXX";
  if (!mkdtemp(folder)) {
    std::perror("cycle_bench: mkdtemp");
    return 1;
  }
  const std::string log = std::string(folder) + "/events.jsonl";
  const Case cases[] = {
      {"brimlet", "brimlet", {}, {}, 7, 19},
      {"brimlet + log", "brimlet", {}, {"log", log}, 7, 19},
      {"kestrow DES on", "kestrow", {"--reader=secured"}, {}, Sealed(19), Sealed(27)},
      {"kestrow DES on+log", "kestrow", {"--reader=secured"}, {"log", log}, Sealed(19), Sealed(27)},
      {"kestrow DES off", "kestrow", {"--reader=secured", "--des=off"}, {"kagi", "off"}, 19, 27},
  };
  std::printf("Attempt cycle at %d baud against a zero-delay simulator, %d attempts each.\n",
              kBaudRate, attempts);
  std::printf("floor = %.0f ms drain + %.0f ms pause + frames on the line (%d bits a byte);\n",
              kDrainMs, kPauseMs, kBitsPerByte);
  std::printf("a pseudo-terminal moves bytes at no line speed, so the cycle may undercut it:\n");
  std::printf("'no line' is the ratio to the floor without the frames' time on the line.\n");
  std::printf("Times in ms; CPU is the tool's share of one core; peak resident memory.\n\n");
  std::printf("%-19s %5s %8s %8s %8s %7s %7s %8s %8s\n", "tool", "marks", "median", "p99", "floor",
              "ratio", "no line", "CPU", "peak KiB");
  for (const Case &c : cases) RunCase(bin, c, attempts);
  std::remove(log.c_str());
  rmdir(folder);
  return 0;
}
