// rwreport: reads result files and event logs of the polling tools and
// prints, per tag (or input file) and over all runs, the pooled success
// rate with its 95 % interval and the spread of the runs; decides against a
// required rate, compares groups, plans the attempts a test needs; as text,
// CSV tables and an HTML page.
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <functional>
#include <map>
#include <new>
#include <optional>
#include <string>
#include <vector>

#include "app/rwreport/file_io.h"
#include "poll/command_line.h"
#include "poll/number_text.h"
#include "report/csv_cells.h"
#include "report/input_files.h"
#include "report/judgement.h"
#include "report/junit_report.h"
#include "report/report_inputs.h"
#include "report/report_output.h"
#include "report/run_stats.h"

namespace {

const char kUsage[] =
    "Usage: rwreport [--csv [runs|compare|series|plan]] [--html FILE] [--title TEXT]\n"
    "                [--junit FILE]\n"
    "                [--require RATE] [--compare] [--baseline TAG] [--plan RATE]\n"
    "                [--bin SECONDS] [--by tag|file] [--skip-bad] FILE...\n"
    "Prints, per record tag and over all runs, the runs, attempts, successes, the pooled\n"
    "success rate with its 95 % Wilson interval, the mean, standard deviation, minimum and\n"
    "maximum of the run rates, and the number of short runs. Each FILE is a result file or\n"
    "an event log (tool option log); - reads standard input. Of the runs in event logs it\n"
    "also prints the attempt latency (p50, p90, p99, maximum) and the failure classes, and\n"
    "the soak series: the rate over time in bins of wall-clock time with a trend test.\n"
    "  --csv [TABLE]    print a CSV table instead of the text: the groups (default), runs,\n"
    "                   compare, series or plan\n"
    "  --html FILE      also write a page with the figures and charts to FILE\n"
    "  --junit FILE     also write the verdicts as JUnit XML for a CI server to FILE\n"
    "  --title TEXT     the page's title\n"
    "  --require RATE   a verdict per group against a required success rate in percent:\n"
    "                   exit status 1 unless every group passes\n"
    "  --compare        compare every pair of groups (difference, Fisher's exact test)\n"
    "  --baseline TAG   compare each group with this one\n"
    "  --plan RATE      the attempts a test needs to show RATE percent\n"
    "  --bin SECONDS    the width of the soak series' bins (chosen from the span when not\n"
    "                   given)\n"
    "  --by tag|file    group the runs by record tag (default) or by input file\n"
    "  --skip-bad       read the good records of a damaged result file, naming the rest\n"
    "  --version        print the version and exit\n"
    "Exit status: 0 done (every group passes --require), 1 a group fails or is undecided,\n"
    "2 a usage, input or output error.\n";

constexpr int kExitGateFailed = 1;
constexpr int kExitError = 2;

enum class CsvTable { kNone, kGroups, kRuns, kCompare, kSeries, kPlan };

struct Arguments {
  CsvTable csv = CsvTable::kNone;
  // Files written besides standard output, whole or not at all.
  struct OutputFile {
    std::string path;
    bool given = false;
  };
  OutputFile html, junit;
  std::string title;
  ReportRequest request;
  GroupBy by = GroupBy::kTag;
  bool skipBad = false;
  long long binSeconds = 0;  // 0: chosen from the span
  std::vector<std::string> files;
};

void Complain(const std::string &message) {
  std::fprintf(stderr, "rwreport: %s\n", Printable(message).c_str());
}

// A required rate, or one to plan for: a percentage strictly between 0 and
// 100, as rwstation takes it too.
bool ParseRate(const std::string &name, const std::string &text, double *rate, std::string *why) {
  std::string reason;
  std::optional<double> value = numtext::ParseRequiredRate(text, &reason);
  if (!value) *why = name + " " + text + ": " + reason;
  if (value) *rate = *value;
  return value.has_value();
}

// The width of the series' bins: whole seconds, at most a year.
bool ParseBinSeconds(const std::string &text, long long *seconds, std::string *why) {
  std::string reason;
  std::optional<std::uint64_t> value = numtext::ParseWholeNumber(text, 1, 31622400, &reason);
  if (!value) *why = "--bin " + text + ": " + reason + " (seconds)";
  if (value) *seconds = static_cast<long long>(*value);
  return value.has_value();
}

bool ParseCsvTable(const std::string &word, CsvTable *table) {
  static const std::map<std::string, CsvTable> kTables = {{"runs", CsvTable::kRuns},
                                                          {"compare", CsvTable::kCompare},
                                                          {"series", CsvTable::kSeries},
                                                          {"plan", CsvTable::kPlan}};
  auto it = kTables.find(word);
  if (it == kTables.end()) return false;
  *table = it->second;
  return true;
}

// An option's value, given as --name=VALUE or as the next argument.
class ArgumentWalker {
 public:
  ArgumentWalker(int argc, char **argv) : argc_(argc), argv_(argv) {}
  bool Next() { return ++i_ < argc_; }
  std::string Word() const { return argv_[i_]; }
  // For an option of the word `name` (with or without "=VALUE").
  bool Is(const char *name) const {
    std::string word = Word();
    return word == name || word.rfind(std::string(name) + "=", 0) == 0;
  }
  bool Value(std::string *value) {
    std::string word = Word();
    std::size_t equals = word.find('=');
    if (equals != std::string::npos) {
      *value = word.substr(equals + 1);
      return true;
    }
    if (i_ + 1 >= argc_) return false;
    *value = argv_[++i_];
    return true;
  }
  // The value that may follow --csv: a table name, else nothing is taken.
  bool OptionalTable(CsvTable *table) {
    std::string word = Word();
    std::size_t equals = word.find('=');
    if (equals != std::string::npos) return ParseCsvTable(word.substr(equals + 1), table);
    if (i_ + 1 < argc_ && ParseCsvTable(argv_[i_ + 1], table)) ++i_;
    return true;
  }

 private:
  int argc_;
  char **argv_;
  int i_ = 0;
};

const char *const kOptions[] = {"--csv",     "--html",    "--junit",    "--title",
                                "--require", "--compare", "--baseline", "--plan",
                                "--bin",     "--by",      "--skip-bad"};

bool IsOptionWord(const std::string &word) {
  for (const char *option : kOptions) {
    if (word == option || word.rfind(std::string(option) + "=", 0) == 0) return true;
  }
  return false;
}

// Returns false, with the reason, on a usage error.
bool ParseOption(ArgumentWalker &walk, Arguments *args, std::string *why) {
  std::string word = walk.Word();
  std::string name = word.substr(0, word.find('='));
  if (name == "--csv") {
    args->csv = CsvTable::kGroups;
    if (!walk.OptionalTable(&args->csv)) *why = "--csv takes runs, compare, series or plan";
    return why->empty();
  }
  if (word == "--compare" || word == "--skip-bad") {
    (word == "--compare" ? args->request.compare : args->skipBad) = true;
    return true;
  }
  std::string value;
  if (!IsOptionWord(name)) {
    *why = "unknown option " + word;
  } else if (!walk.Value(&value)) {
    *why = name + " needs a value";
  } else if (name == "--html" || name == "--junit") {
    (name == "--html" ? args->html : args->junit) = Arguments::OutputFile{value, true};
  } else if (name == "--title") {
    args->title = value;
  } else if (name == "--baseline") {
    args->request.baseline = value;
    args->request.compare = true;
  } else if (name == "--require" || name == "--plan") {
    double *rate =
        name == "--require" ? &args->request.requiredPercent : &args->request.planPercent;
    ParseRate(name, value, rate, why);
  } else if (name == "--bin") {
    ParseBinSeconds(value, &args->binSeconds, why);
  } else if (name == "--by") {
    if (value != "tag" && value != "file") *why = "--by takes tag or file";
    args->by = value == "file" ? GroupBy::kFile : GroupBy::kTag;
  } else {
    *why = "unknown option " + word;
  }
  return why->empty();
}

ParseOutcome ParseArguments(int argc, char **argv, Arguments *args, std::string *why) {
  ArgumentWalker walk(argc, argv);
  bool optionsEnd = false;
  while (walk.Next()) {
    std::string word = walk.Word();
    StandardWord standard = optionsEnd ? StandardWord::kNone : StandardWordOf(word);
    if (standard != StandardWord::kNone) return ShowStandardWord(standard, "rwreport", kUsage);
    if (!optionsEnd && word == "--") {
      optionsEnd = true;
    } else if (!optionsEnd && word.size() > 1 && word[0] == '-') {
      if (!ParseOption(walk, args, why)) return ParseOutcome::kRefused;
    } else {
      args->files.push_back(word);
    }
  }
  if (args->files.empty()) {
    *why = "no input file";
    return ParseOutcome::kRefused;
  }
  return ParseOutcome::kRun;
}

// A file written must not take the place of an input, of the other file
// written, or of an option word that lost its value (--html --csv).
bool CheckOutputPath(const char *option, const char *what, const Arguments::OutputFile &output,
                     const Arguments &args, std::string *why) {
  if (!output.given) return true;
  const std::string &path = output.path;
  if (path.empty() || path[0] == '-' || IsOptionWord(path)) {
    *why = std::string(option) + " needs a file name, not \"" + path + "\"";
    return false;
  }
  platform::FileIdentity identity;
  if (!platform::IdentifyFile(path, &identity)) return true;  // a new file
  for (const std::string &file : args.files) {
    platform::FileIdentity input;
    if (IdentifyInput(file, &input) && input == identity) {
      *why =
          std::string("the ") + what + " " + path + " is the input " + file + "; nothing written";
      return false;
    }
  }
  return true;
}

bool CheckOutputPaths(const Arguments &args, std::string *why) {
  if (args.html.given && args.junit.given && args.html.path == args.junit.path) {
    *why = "--html and --junit name the same file " + args.html.path;
    return false;
  }
  return CheckOutputPath("--html", "page", args.html, args, why) &&
         CheckOutputPath("--junit", "JUnit file", args.junit, args, why);
}

std::string Timestamp(const char *format) {
  std::time_t now = std::time(nullptr);
  char text[64] = "";
  if (const std::tm *utc = std::gmtime(&now)) std::strftime(text, sizeof text, format, utc);
  return text;
}

// Writes a file whole; false, said on standard error, when it could not be.
bool WriteWhole(const Arguments::OutputFile &output, const std::string &text) {
  std::string error;
  if (!output.given || platform::ReplaceFileWith(output.path, text, &error)) return true;
  Complain(error);
  return false;
}

std::string WallClockSpan(const LogSetup &setup) {
  if (!setup.wallKnown) return "unknown (the tool could not read the clock)";
  return FormatWallClock(setup.firstWall) + " to " + FormatWallClock(setup.lastWall);
}

// What the event logs' start events say about the setup, one entry per log
// (and per change of setup within it).
std::vector<std::vector<std::pair<std::string, std::string>>> SetupsOf(
    const std::vector<LogSetup> &setups) {
  std::vector<std::vector<std::pair<std::string, std::string>>> out;
  for (const LogSetup &s : setups) {
    out.push_back({{"log", s.file},
                   {"tool", s.tool + " " + s.version},
                   {"port", s.port.empty() ? "searched" : s.port},
                   {"device", s.device},
                   {"baud rate", std::to_string(s.baud)}});
    // Only kestrow speaks DES; brimlet's R/W has no such setting.
    if (s.tool == "kestrow") out.back().push_back({"DES", s.des ? "on" : "off"});
    out.back().insert(out.back().end(),
                      {{"time-outs", "ACK " + std::to_string(s.ackMs) + " ms, response " +
                                         std::to_string(s.responseMs) + " ms"},
                       {"time span (UTC)", WallClockSpan(s)},
                       {"tool starts", std::to_string(s.starts)}});
  }
  return out;
}

// Standard output written part by part, so that the runs of a day of logs
// never make one string; the first failed write is kept.
class StandardOutput {
 public:
  bool operator()(const std::string &text) {
    return error_.empty() && WriteStandardOutput(text, &error_);
  }
  bool Close() { return error_.empty() && CloseStandardOutput(&error_); }
  const std::string &Error() const { return error_; }

 private:
  std::string error_;
};

// The span from which the text shows the soak series without --bin: a
// shorter test (a qualification of a few minutes) would show a table of
// nearly empty bins.
constexpr std::int64_t kSeriesTextSpanSeconds = 30 * 60;

bool ShowSeriesText(const Arguments &args, const SeriesSet &series) {
  return !series.series.empty() &&
         (args.binSeconds > 0 || SpanSeconds(series) >= kSeriesTextSpanSeconds);
}

// The text or CSV table asked for.
void PrintStandardOutput(const Arguments &args, const Report &report,
                         const Comparisons &comparisons, const LoggedRuns &logged,
                         const SeriesSet &series, StandardOutput &out) {
  switch (args.csv) {
    case CsvTable::kNone:
      WriteTextReport(report, args.request, comparisons, std::ref(out));
      if (!logged.empty()) WriteLoggedRunsText(LoggedRunsToList(report, logged), std::ref(out));
      if (ShowSeriesText(args, series)) out(SeriesText(series));
      return;
    case CsvTable::kGroups: out(CsvReport(report, args.request)); return;
    case CsvTable::kRuns: WriteRunsCsv(report, logged, std::ref(out)); return;
    case CsvTable::kCompare: WriteComparisonsCsv(comparisons, report.by, std::ref(out)); return;
    case CsvTable::kPlan: out(PlanCsv(report, args.request.planPercent)); return;
    case CsvTable::kSeries: out(SeriesCsv(series)); return;
  }
}

// 0, or 1 when a rate is required and a group does not pass: the verdicts
// Judge() gives rwstation.
int GateStatus(const Arguments &args, const Report &report) {
  for (const GroupStats &g : report.tags) {
    GroupJudgement judged = JudgeGroup(g, args.by, args.request.requiredPercent);
    if (judged.gated && judged.verdict != Verdict::kPass) return kExitGateFailed;
  }
  return 0;
}

int Run(const Arguments &args) {
  SeriesBuilder seriesBuilder(args.binSeconds);
  ReportInputs inputs(&seriesBuilder);
  std::string error;
  bool read = inputs.Read(InputRequest{args.files, args.by, args.skipBad}, &error);
  for (const std::string &note : inputs.Notes()) Complain(note);
  if (!read) {
    Complain(error);
    return kExitError;
  }
  const LoggedRuns &logged = inputs.Logged();
  Report report = inputs.Build(args.by);
  Comparisons comparisons;
  if (args.request.compare && !comparisons.Make(report, args.request.baseline, &error)) {
    Complain(error);
    return kExitError;
  }
  SeriesSet series = seriesBuilder.Build();
  StandardOutput out;
  PrintStandardOutput(args, report, comparisons, logged, series, out);
  // The files are written whatever happened to standard output (a closed
  // pipe, a full disk): they are what a station keeps of the test.
  bool written = out.Close();
  if (!written) Complain(out.Error());
  if (args.html.given) {
    PageContext context{args.title, Timestamp("%Y-%m-%d %H:%M UTC"), inputs.Files(),
                        SetupsOf(inputs.Setups()), std::move(series)};
    written =
        WriteWhole(args.html, HtmlReport(report, args.request, comparisons, logged, context)) &&
        written;
  }
  if (args.junit.given) {
    std::string xml = JunitReport(report, args.request, Timestamp("%Y-%m-%dT%H:%M:%S"));
    written = WriteWhole(args.junit, xml) && written;
  }
  return written ? GateStatus(args, report) : kExitError;
}

int Main(int argc, char **argv) {
  Arguments args;
  std::string why;
  switch (ParseArguments(argc, argv, &args, &why)) {
    case ParseOutcome::kRun: break;
    case ParseOutcome::kShown: return 0;
    case ParseOutcome::kRefused:
      Complain(why);
      std::fputs(kUsage, stderr);
      return kExitError;
  }
  if (args.csv == CsvTable::kPlan && args.request.planPercent < 0) {
    Complain("--csv plan needs --plan RATE");
    return kExitError;
  }
  if (args.csv == CsvTable::kCompare && !args.request.compare) args.request.compare = true;
  if (!CheckOutputPaths(args, &why)) {
    Complain(why);
    return kExitError;
  }
  return Run(args);
}

}  // namespace

int main(int argc, char **argv) {
  // A reader of standard output that went away is an output error (exit
  // status 2), not the end of the program: the page is still written.
  platform::LetWritesToClosedPipesFail();
  try {
    return Main(argc, argv);
  } catch (const std::bad_alloc &) {
    // What held the memory is freed by now; the message needs none.
    std::fputs(
        "rwreport: out of memory: the figures of these inputs need more memory than the "
        "system allows\n",
        stderr);
    return kExitError;
  }
}
