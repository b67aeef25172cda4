// Reads event logs as a stream: every line is checked against the format,
// each run's attempts are summed up when its figures come, and the attempts
// go into the soak series as they pass. Memory holds one chunk of the file,
// the runs' figures and the series' bins, whatever the log's size.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "report/logged_runs.h"
#include "report/rw_losses.h"
#include "report/series.h"

// What a log's `start` events say about the setup, for the page. Successive
// starts with the same setup in one file make one entry.
struct LogSetup {
  std::string file;
  std::string tool;     // kestrow or brimlet
  std::string version;  // the tool's version
  std::string port;     // as the command line gave it; empty when kestrow searched
  std::string device;   // the device of the first connection that worked (or was opened)
  int baud = 0;
  bool des = false;
  int ackMs = 0;
  int responseMs = 0;
  bool wallKnown = false;      // false when the tool could not read the clock
  std::int64_t firstWall = 0;  // seconds since 1970-01-01 UTC: the first start
  std::int64_t lastWall = 0;   // the last event, by the monotonic clock
  int starts = 0;              // the tool starts it covers
};

// A span of a log in which its R/W was gone (LossTracker), with the group
// it counts in: the series group of the start it began in (a tag, or the
// group given for the file), and the result file that start names.
struct LogLoss {
  std::string group;
  int resultInput = -1;  // as LoggedRun::resultInput
  rwloss::LossEpisode episode;
};

class EventLogReader {
 public:
  // `series` (may be null) receives the attempts, reconnections and stops;
  // files are read in chunks of `chunkSize` bytes.
  explicit EventLogReader(SeriesBuilder *series = nullptr, std::size_t chunkSize = 1 << 20);
  ~EventLogReader();
  EventLogReader(const EventLogReader &) = delete;
  EventLogReader &operator=(const EventLogReader &) = delete;

  // Reads one log: `prefix` (bytes already taken from `in` to tell a log
  // from a result file), then `in` (may be null) to its end. `name` is the
  // file in messages; `group` the series label of its attempts (empty: by
  // the start's tag). Returns false with `error` naming the file and line
  // of the first line that does not hold.
  bool Read(std::FILE *in, std::string_view prefix, const std::string &name,
            const std::string &group, std::string *error);

  // Tells which input a start's `result_file` is (-1: none), given the
  // name and the log's name: LoggedRun::resultInput and LogLoss.
  using ResultFileResolver = std::function<int(const std::string &named, const std::string &log)>;
  void ResolveResultFilesWith(ResultFileResolver resolve) {
    resolveResultFile_ = std::move(resolve);
  }

  LoggedRuns &Runs() { return runs_; }
  const LoggedRuns &Runs() const { return runs_; }
  // The spans of every log read in which the R/W was gone.
  const std::vector<LogLoss> &Losses() const { return losses_; }
  std::vector<LogSetup> &Setups() { return setups_; }
  const std::vector<LogSetup> &Setups() const { return setups_; }
  // Runs without figures, runs whose attempts do not match their figures,
  // attempts that cannot be placed in time; one line each.
  std::vector<std::string> &Notes() { return notes_; }

 private:
  class FileState;
  SeriesBuilder *series_;
  std::size_t chunkSize_;
  LoggedRuns runs_;
  std::vector<LogSetup> setups_;
  std::vector<std::string> notes_;
  std::vector<LogLoss> losses_;
  ResultFileResolver resolveResultFile_;
};
