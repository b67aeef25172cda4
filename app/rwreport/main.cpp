// rwreport: reads result files of the polling tools and prints, per tag and
// over all runs, the pooled success rate with its 95 % interval and the
// spread of the runs; optionally as CSV and as an HTML page with a chart.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "app/rwreport/log_reader.h"
#include "app/rwreport/report_output.h"
#include "app/rwreport/run_stats.h"
#include "project_version.h"

namespace {

const char kUsage[] =
    "Usage: rwreport [--csv] [--html FILE] [--bin SECONDS] FILE...\n"
    "Prints, per record tag and over all runs, the runs, attempts, successes, the pooled\n"
    "success rate with its 95 % Wilson interval, the mean, standard deviation, minimum and\n"
    "maximum of the run rates, and the number of runs shorter than the longest of their tag.\n"
    "Each FILE is a result file or an event log (tool option log); of the runs in event\n"
    "logs it also prints the attempt latency (p50, p90, p99, maximum) and the failure\n"
    "classes. The table counts the runs of the result files, or of the event logs when no\n"
    "result file is given.\n"
    "  --csv        print comma-separated values instead of the table\n"
    "  --html FILE  also write a page with the table and charts to FILE\n"
    "  --bin SECONDS  the width of the bins of the soak series from event logs\n"
    "               (chosen from the span when not given)\n"
    "  --version    print the version and exit\n";

struct Arguments {
  bool csv = false;
  std::string htmlPath;
  long long binSeconds = 0;  // 0: chosen from the span
  std::vector<std::string> files;
};

// Returns false on a usage error.
bool ParseArguments(int argc, char **argv, Arguments *args) {
  for (int i = 1; i < argc; ++i) {
    std::string word = argv[i];
    if (word == "--csv") {
      args->csv = true;
    } else if (word == "--html" && i + 1 < argc) {
      args->htmlPath = argv[++i];
    } else if (word == "--bin" && i + 1 < argc) {
      char *end = nullptr;
      errno = 0;
      args->binSeconds = std::strtoll(argv[++i], &end, 10);
      if (errno || *end || end == argv[i] || args->binSeconds < 1 || args->binSeconds > 31622400)
        return false;
    } else if (word.size() > 1 && word[0] == '-') {
      return false;
    } else {
      args->files.push_back(word);
    }
  }
  return !args->files.empty();
}

// Reads up to `limit` bytes of `f` into `text`.
bool ReadRestUpTo(std::FILE *f, const std::string &path, std::size_t limit, std::string *text) {
  text->resize(limit);
  text->resize(std::fread(&(*text)[0], 1, limit, f));
  if (!std::ferror(f)) return true;
  std::fprintf(stderr, "rwreport: cannot read %s: %s\n", path.c_str(), std::strerror(errno));
  return false;
}

// Reads `f` to its end behind `text`.
bool ReadRest(std::FILE *f, const std::string &path, std::string *text) {
  char buffer[65536];
  std::size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) text->append(buffer, n);
  if (!std::ferror(f)) return true;
  std::fprintf(stderr, "rwreport: cannot read %s: %s\n", path.c_str(), std::strerror(errno));
  return false;
}

// The runs of the result files, read whole (they are small), and those of
// the event logs, read as a stream.
bool ReadRuns(const std::vector<std::string> &files, std::vector<RecordedRun> *runs,
              EventLogReader *logs) {
  for (const std::string &file : files) {
    std::FILE *f = std::fopen(file.c_str(), "rb");
    if (!f) {
      std::fprintf(stderr, "rwreport: cannot open %s: %s\n", file.c_str(), std::strerror(errno));
      return false;
    }
    // The first bytes tell a log from a result file.
    std::string text;
    bool ok = ReadRestUpTo(f, file, 65536, &text);
    std::string error;
    if (ok && LooksLikeEventLog(text)) {
      ok = logs->Read(f, text, file, "", &error);
    } else if (ok && ReadRest(f, file, &text)) {
      std::vector<ParsedRecord> records;
      ok = ParseResultRecords(text, file, &records, &error);
      for (const ParsedRecord &r : records)
        runs->push_back(RecordedRun{file, r.position, r.record});
    } else {
      ok = false;
    }
    std::fclose(f);
    if (!ok) {
      if (!error.empty()) std::fprintf(stderr, "rwreport: %s\n", error.c_str());
      return false;
    }
  }
  for (const std::string &note : logs->Notes())
    std::fprintf(stderr, "rwreport: %s\n", note.c_str());
  return true;
}

bool WriteWholeFile(const std::string &path, const std::string &text) {
  std::FILE *f = std::fopen(path.c_str(), "wb");
  if (!f) {
    std::fprintf(stderr, "rwreport: cannot create %s: %s\n", path.c_str(), std::strerror(errno));
    return false;
  }
  bool written = std::fwrite(text.data(), 1, text.size(), f) == text.size();
  if (std::fclose(f) != 0) written = false;
  if (!written) std::fprintf(stderr, "rwreport: cannot write %s\n", path.c_str());
  return written;
}

}  // namespace

int main(int argc, char **argv) {
  Arguments args;
  if (argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
    std::fputs(kUsage, stdout);
    return 0;
  }
  if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
    std::printf("rwreport %s\n", PROJECT_VERSION_TEXT);
    return 0;
  }
  if (!ParseArguments(argc, argv, &args)) {
    std::fputs(kUsage, stderr);
    return 2;
  }
  std::vector<RecordedRun> runs;
  SeriesBuilder series(args.binSeconds);
  EventLogReader logs(&series);
  if (!ReadRuns(args.files, &runs, &logs)) return 1;
  const std::vector<LoggedRun> &logged = logs.Runs();
  if (runs.empty()) runs = AsRecordedRuns(logged);
  if (runs.empty()) {
    std::fprintf(stderr, "rwreport: the files hold no records\n");
    return 1;
  }
  Report report = BuildReport(runs);
  // Printed part by part: the runs of a day of logs make megabytes of text.
  std::fputs((args.csv ? CsvReport(report) : TextReport(report)).c_str(), stdout);
  if (!logged.empty()) {
    std::fputs((args.csv ? LoggedRunsCsv(logged) : LoggedRunsText(logged)).c_str(), stdout);
  }
  if (!args.csv && !series.Empty()) std::fputs(SeriesText(series.Build()).c_str(), stdout);
  if (!args.htmlPath.empty() &&
      !WriteWholeFile(args.htmlPath, HtmlReport(report, logged, args.files))) {
    return 1;
  }
  return 0;
}
