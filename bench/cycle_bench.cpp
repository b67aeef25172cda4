// Attempt cycles of the real tools against a zero-delay simulator, beside the
// floor (build/cycle_floor: only what the design forces per attempt, with the
// same frames) in the same run: runs brimlet and kestrow (DES on and off, with
// and without an event log) for one run of attempts each, takes the time of
// every mark as it appears on the program's standard output, and prints the
// median and 99th percentile of the time between marks, the CPU share of one
// core, the ratios of cycle and CPU to the floor with the same frames, and
// the peak memory. Asserts nothing. bench/cycle_bench.sh adds the system
// calls and log bytes per attempt.
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

#include "secure/secure_messaging.h"

namespace {

using Clock = std::chrono::steady_clock;

// Data bytes of a sealed message whose clear length byte is `length`.
int Sealed(int length) {
  int blocks = (length - 1 + secure::kBlockSize - 1) / secure::kBlockSize;
  return secure::kBlockSize * (blocks + 1) + 1;
}

// The frames of one polling attempt, and the floor that sends them.
struct Frames {
  const char *name;
  int commandData;   // data bytes of the polling command frame
  int responseData;  // data bytes of the polling answer frame
};

struct Case {
  const char *name;
  const char *tool;
  std::vector<std::string> simArgs;
  std::vector<std::string> toolArgs;
};

// What one program run showed.
struct Measured {
  std::size_t marks = 0;
  double median = 0;
  double p99 = 0;
  double cpuShare = 0;  // of one core, over the run's wall time
  long peakKiB = 0;
};

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

// Runs `program` to its end, timing the marks on its output.
Measured Measure(const std::string &program, const std::vector<std::string> &args) {
  Clock::time_point start = Clock::now();
  Child child = Start(program, args);
  std::vector<Clock::time_point> times = MarkTimes(child.out);
  char rest[4096];
  while (read(child.out, rest, sizeof rest) > 0) {
  }
  int status = 0;
  rusage usage{};
  wait4(child.pid, &status, 0, &usage);
  double wallMs = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
  close(child.out);
  std::vector<double> cycles;
  for (std::size_t i = 1; i < times.size(); ++i) {
    cycles.push_back(std::chrono::duration<double, std::milli>(times[i] - times[i - 1]).count());
  }
  double cpuMs = (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1000.0 +
                 (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1000.0;
  return Measured{times.size(), Percentile(cycles, 0.5), Percentile(cycles, 0.99), cpuMs / wallMs,
                  usage.ru_maxrss};
}

Measured MeasureTool(const std::string &bin, const Case &c, int attempts) {
  Child sim = Start(bin + "/rwsim", c.simArgs);
  std::string path = ReadLine(sim.out);
  std::vector<std::string> args = {"c", path, "t", std::to_string(attempts)};
  args.insert(args.end(), c.toolArgs.begin(), c.toolArgs.end());
  Measured m = Measure(bin + "/" + c.tool, args);
  kill(sim.pid, SIGTERM);
  waitpid(sim.pid, nullptr, 0);
  close(sim.out);
  return m;
}

void PrintRow(const std::string &name, const Measured &m, const Measured &floor) {
  std::printf("%-21s %5zu %8.2f %8.2f %7.2f%% %7.4f %7.2f %8ld\n", name.c_str(), m.marks, m.median,
              m.p99, 100.0 * m.cpuShare, floor.median > 0 ? m.median / floor.median : 0,
              floor.cpuShare > 0 ? m.cpuShare / floor.cpuShare : 0, m.peakKiB);
}

// The floor with the frames of these cases, then each case.
void RunGroup(const std::string &bin, const Frames &frames, const std::vector<Case> &cases,
              int attempts) {
  Measured floor = Measure(bin + "/cycle_floor",
                           {std::to_string(frames.commandData), std::to_string(frames.responseData),
                            std::to_string(attempts)});
  PrintRow(std::string("floor, ") + frames.name, floor, floor);
  for (const Case &c : cases) PrintRow(c.name, MeasureTool(bin, c, attempts), floor);
  std::fflush(stdout);
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
  const Frames plain{"plain", 7, 19};
  const Frames sealed{"sealed", Sealed(19), Sealed(27)};
  const Frames clear{"DES off", 19, 27};
  std::printf("Attempt cycle against a zero-delay simulator, %d attempts each, beside the\n",
              attempts);
  std::printf("floor with the same frames (10 ms drain wait + 4 ms pause + the frames on a\n");
  std::printf("pseudo-terminal + one mark). Times in ms; CPU is the share of one core;\n");
  std::printf("cycle/fl and CPU/fl are the ratios to the floor above; peak resident memory.\n\n");
  std::printf("%-21s %5s %8s %8s %8s %7s %7s %8s\n", "program", "marks", "median", "p99", "CPU",
              "cycle/fl", "CPU/fl", "peak KiB");
  RunGroup(bin, plain,
           {{"brimlet", "brimlet", {}, {}}, {"brimlet + log", "brimlet", {}, {"log", log}}},
           attempts);
  RunGroup(bin, sealed,
           {{"kestrow DES on", "kestrow", {"--reader=secured"}, {}},
            {"kestrow DES on + log", "kestrow", {"--reader=secured"}, {"log", log}}},
           attempts);
  RunGroup(bin, clear,
           {{"kestrow DES off", "kestrow", {"--reader=secured", "--des=off"}, {"kagi", "off"}}},
           attempts);
  std::remove(log.c_str());
  rmdir(folder);
  return 0;
}
