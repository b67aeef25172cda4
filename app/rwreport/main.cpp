// rwreport: reads result files of the polling tools and prints, per tag and
// over all runs, the pooled success rate with its 95 % interval and the
// spread of the runs; optionally as CSV and as an HTML page with a chart.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "app/rwreport/report_output.h"
#include "app/rwreport/run_stats.h"
#include "project_version.h"

namespace {

const char kUsage[] =
    "Usage: rwreport [--csv] [--html FILE] FILE...\n"
    "Prints, per record tag and over all runs, the runs, attempts, successes, the pooled\n"
    "success rate with its 95 % Wilson interval, the mean, standard deviation, minimum and\n"
    "maximum of the run rates, and the number of runs shorter than the longest of their tag.\n"
    "Each FILE is a result file or an event log (tool option log); of the runs in event\n"
    "logs it also prints the attempt latency (p50, p90, p99, maximum) and the failure\n"
    "classes. The table counts the runs of the result files, or of the event logs when no\n"
    "result file is given.\n"
    "  --csv        print comma-separated values instead of the table\n"
    "  --html FILE  also write a page with the table and charts to FILE\n"
    "  --version    print the version and exit\n";

struct Arguments {
  bool csv = false;
  std::string htmlPath;
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
    } else if (word.size() > 1 && word[0] == '-') {
      return false;
    } else {
      args->files.push_back(word);
    }
  }
  return !args->files.empty();
}

bool ReadWholeFile(const std::string &path, std::string *text) {
  std::FILE *f = std::fopen(path.c_str(), "rb");
  if (!f) {
    std::fprintf(stderr, "rwreport: cannot open %s: %s\n", path.c_str(), std::strerror(errno));
    return false;
  }
  char buffer[4096];
  std::size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) text->append(buffer, n);
  bool failed = std::ferror(f) != 0;
  std::fclose(f);
  if (failed) std::fprintf(stderr, "rwreport: cannot read %s\n", path.c_str());
  return !failed;
}

// The runs of the result files, and those of the event logs.
bool ReadRuns(const std::vector<std::string> &files, std::vector<RecordedRun> *runs,
              std::vector<LoggedRun> *logged) {
  for (const std::string &file : files) {
    std::string text, error;
    if (!ReadWholeFile(file, &text)) return false;
    bool ok;
    if (LooksLikeEventLog(text)) {
      std::vector<std::string> notes;
      ok = ParseLoggedRuns(text, file, logged, &notes, &error);
      for (const std::string &note : notes) std::fprintf(stderr, "rwreport: %s\n", note.c_str());
    } else {
      std::vector<ParsedRecord> records;
      ok = ParseResultRecords(text, file, &records, &error);
      for (const ParsedRecord &r : records)
        runs->push_back(RecordedRun{file, r.position, r.record});
    }
    if (!ok) {
      std::fprintf(stderr, "rwreport: %s\n", error.c_str());
      return false;
    }
  }
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
  std::vector<LoggedRun> logged;
  if (!ReadRuns(args.files, &runs, &logged)) return 1;
  if (runs.empty()) runs = AsRecordedRuns(logged);
  if (runs.empty()) {
    std::fprintf(stderr, "rwreport: the files hold no records\n");
    return 1;
  }
  Report report = BuildReport(runs);
  std::string text = args.csv ? CsvReport(report) : TextReport(report);
  if (!logged.empty()) text += args.csv ? LoggedRunsCsv(logged) : LoggedRunsText(logged);
  std::fputs(text.c_str(), stdout);
  if (!args.htmlPath.empty() &&
      !WriteWholeFile(args.htmlPath, HtmlReport(report, logged, args.files))) {
    return 1;
  }
  return 0;
}
