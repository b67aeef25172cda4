// rwstation: runs one kestrow or brimlet per reader of a plan at once, shows
// their progress from their event logs, and ends with rwreport's verdict.
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/rwstation/plan.h"
#include "app/rwstation/station.h"
#include "app/rwstation/station_publish.h"
#include "app/rwstation/verdict.h"
#include "platform/platform.h"
#include "platform/process.h"
#include "poll/command_line.h"
#include "poll/number_text.h"
#include "project_version.h"
#include "report/csv_cells.h"
#include "report/http_server.h"

namespace {

const char kUsage[] =
    "Usage: rwstation [options] PLAN\n"
    "       rwstation [options] --reader \"NAME TOOL WORD VALUE...\"...\n"
    "Runs one kestrow or brimlet per reader of the plan at once, shows their progress\n"
    "from their event logs, and ends with rwreport's verdict over all readers.\n"
    "PLAN is a file with one reader per line: a name, the tool (kestrow or brimlet)\n"
    "and the tool's option words, e.g. \"unit07 kestrow c /dev/ttyUSB3 t 1000 d 7\";\n"
    "a line \"require RATE\" sets the gate; # starts a comment. The station sets each\n"
    "reader's f and log. A reader whose R/W was lost is started again once its port\n"
    "is there. Ctrl-C stops every reader in order.\n"
    "  --reader LINE     a reader, as a line of the plan (repeatable)\n"
    "  --require RATE    the success rate in percent that every reader must show\n"
    "  --session DIR     the session folder (default station-YYYYMMDD-HHMMSS)\n"
    "  --duration TIME   stop every reader in order after this long, 1s to 365d,\n"
    "                    such as 90s, 30m, 12h or 2d; digits alone are seconds\n"
    "  --no-retry        do not start a reader again when its R/W was lost\n"
    "  --title TEXT      the title of the report's page\n"
    "  --stop-wait TIME  how long a stopped reader may take to end, 1s to 1h, such as\n"
    "                    90s or 5m; digits alone are seconds (default 10)\n"
    "  --listen [ADDRESS:]PORT\n"
    "                    serve /metrics (Prometheus), /status.json and a live page\n"
    "                    over HTTP while the session runs; on 127.0.0.1 unless an\n"
    "                    address is named (0.0.0.0 lets the whole network in)\n"
    "  --station NAME    the station's name in what --listen serves (default the\n"
    "                    host name)\n"
    "  --help            print this text and exit\n"
    "  --version         print the version and exit\n"
    "Exit status: 0 every reader ran and passed, 1 a reader failed or did not pass,\n"
    "2 a bad plan or command line.\n";

constexpr int kBadPlan = 2;

constexpr std::uint64_t kLongestDuration = 365ULL * 24 * 3600;

struct Arguments {
  std::string planPath;
  std::vector<std::string> readerLines;
  std::string requireRate;
  std::string folder;
  std::string title;
  int stopWaitSeconds = 10;
  std::uint64_t durationSeconds = 0;
  std::string durationText;
  bool retry = true;
  std::optional<ListenAddress> listen;
  std::string stationName;
};

// A duration option's value; refused with the reason in `why`.
bool ReadDuration(const std::string &option, const std::string &text, std::uint64_t longest,
                  std::uint64_t *seconds, std::string *why) {
  std::string reason;
  std::optional<std::uint64_t> value = numtext::ParseDuration(text, 1, longest, &reason);
  if (!value) *why = option + " " + text + ": " + reason;
  if (value) *seconds = *value;
  return value.has_value();
}

// The station's name: a label value that people read, so one line of
// printable text.
bool ReadStationName(const std::string &name, std::string *why) {
  bool printable = !name.empty() && name.size() <= 200;
  for (unsigned char c : name) printable = printable && c >= 0x20 && c != 0x7f;
  if (!printable) *why = "--station " + name + ": 1 to 200 characters, none a control character";
  return printable;
}

// The options of the HTTP face; false when the word is none of them or its
// value is refused (`why` set).
bool ReadServeOption(const std::string &word, const std::string &value, Arguments *args,
                     std::string *why) {
  if (word == "--station") {
    args->stationName = value;
    return ReadStationName(value, why);
  }
  std::string reason;
  args->listen = ParseListenAddress(value, &reason);
  if (!args->listen) *why = "--listen " + value + ": " + reason;
  return args->listen.has_value();
}

// Reads the command line; a refused value is named in `why`.
ParseOutcome ParseArguments(int argc, char **argv, Arguments *args, std::string *why) {
  for (int i = 1; i < argc; ++i) {
    std::string word = argv[i];
    bool hasValue = i + 1 < argc;
    std::string reason;
    if (StandardWord standard = StandardWordOf(word); standard != StandardWord::kNone) {
      return ShowStandardWord(standard, "rwstation", kUsage);
    } else if (word == "--reader" && hasValue) {
      args->readerLines.push_back(argv[++i]);
    } else if (word == "--require" && hasValue) {
      args->requireRate = argv[++i];
      if (!numtext::ParseRequiredRate(args->requireRate, &reason)) {
        *why = "--require " + args->requireRate + ": " + reason;
        return ParseOutcome::kRefused;
      }
    } else if (word == "--session" && hasValue) {
      args->folder = argv[++i];
    } else if (word == "--title" && hasValue) {
      args->title = argv[++i];
    } else if ((word == "--listen" || word == "--station") && hasValue) {
      if (!ReadServeOption(word, argv[++i], args, why)) return ParseOutcome::kRefused;
    } else if (word == "--no-retry") {
      args->retry = false;
    } else if (word == "--duration" && hasValue) {
      args->durationText = argv[++i];
      if (!ReadDuration(word, args->durationText, kLongestDuration, &args->durationSeconds, why))
        return ParseOutcome::kRefused;
    } else if (word == "--stop-wait" && hasValue) {
      std::uint64_t seconds = 0;
      if (!ReadDuration(word, argv[++i], 3600, &seconds, why)) return ParseOutcome::kRefused;
      args->stopWaitSeconds = static_cast<int>(seconds);
    } else if (!word.empty() && word[0] == '-') {
      return ParseOutcome::kRefused;
    } else if (args->planPath.empty()) {
      args->planPath = word;
    } else {
      return ParseOutcome::kRefused;
    }
  }
  bool planned = !args->planPath.empty() || !args->readerLines.empty();
  return planned ? ParseOutcome::kRun : ParseOutcome::kRefused;
}

// A message on standard error, with the control characters of whatever a
// plan or a command line put in it made visible.
void Complain(const std::string &message) {
  std::fprintf(stderr, "rwstation: %s\n", Printable(message).c_str());
}

bool ReadTextFile(const std::string &path, std::string *text) {
  std::FILE *file = std::fopen(path.c_str(), "rb");
  if (!file) return false;
  char buffer[4096];
  std::size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, file)) > 0) text->append(buffer, n);
  bool failed = std::ferror(file) != 0;
  std::fclose(file);
  return !failed;
}

// The plan of the file and the command line, checked. Prints every mistake.
bool LoadPlan(const Arguments &args, Plan *plan) {
  std::vector<PlanLine> lines;
  if (!args.planPath.empty()) {
    std::string text;
    if (!ReadTextFile(args.planPath, &text)) {
      std::fprintf(stderr, "rwstation: cannot read the plan %s: %s\n",
                   Printable(args.planPath).c_str(), std::strerror(errno));
      return false;
    }
    lines = PlanFileLines(text);
    for (PlanLine &line : lines) line.where = args.planPath + " " + line.where;
  }
  for (std::size_t i = 0; i < args.readerLines.size(); ++i)
    lines.push_back(PlanLine{args.readerLines[i], "--reader " + std::to_string(i + 1)});
  std::vector<std::string> errors;
  if (!ReadPlan(lines, plan, &errors)) {
    for (const std::string &error : errors) Complain(error);
    std::fprintf(stderr, "rwstation: the plan is refused; no reader was started\n");
    return false;
  }
  if (!args.requireRate.empty()) plan->requireRate = args.requireRate;
  return true;
}

// Every program the station will run takes its command line: a plan whose
// tools or report would not start is refused before anything starts.
bool CommandLinesFit(const Station &station, const ReportSettings &report) {
  bool fit = true;
  std::string why;
  for (const StationReader &reader : station.Readers()) {
    std::vector<std::string> words{platform::ExecutableName(reader.plan.tool)};
    std::vector<std::string> tool = ToolArguments(reader);
    words.insert(words.end(), tool.begin(), tool.end());
    if (platform::ArgumentsFit(words, &why)) continue;
    Complain(reader.plan.where + ": too long for one command line: " + why);
    fit = false;
  }
  std::vector<std::string> words{platform::ExecutableName("rwreport")};
  std::vector<std::string> all = ReportArguments(station.Readers(), report, true);
  words.insert(words.end(), all.begin(), all.end());
  if (!platform::ArgumentsFit(words, &why)) {
    Complain("the report over every reader's files would be too long for one command line: " + why);
    fit = false;
  }
  if (!fit) Complain("the plan is refused; no reader was started");
  return fit;
}

// A folder whose name begins with '-' is named from the working folder
// ("./-s"), so that no program we run takes one of its files for an option.
std::string SafeFolderName(const std::string &folder) {
  return folder[0] == '-' ? std::string(".") + platform::PathSeparator() + folder : folder;
}

// The session folder: the one given (made when missing), else a new one of
// our own.
bool MakeSession(const std::string &given, std::string *folder, std::string *error) {
  if (!given.empty()) {
    *folder = SafeFolderName(given);
    return platform::MakeFolder(*folder, error);
  }
  *folder = MakeSessionFolder(error);
  return !folder->empty();
}

// The HTTP face, listening already, or none when not asked for. Listening
// comes before the session folder is made and any reader starts, so that an
// address in use leaves nothing behind.
bool OpenServer(const Arguments &args, const Plan &plan, std::unique_ptr<StationServer> *server) {
  if (!args.listen) return true;
  StationIdentity identity;
  identity.name = args.stationName.empty() ? DefaultStationName() : args.stationName;
  identity.version = PROJECT_VERSION_TEXT;
  identity.title = args.title;
  identity.startTime = UnixTime();
  if (std::optional<double> percent = RequiredPercent(plan.requireRate))
    identity.requiredRate = *percent / 100;
  std::string reason;
  *server = std::make_unique<StationServer>(std::move(identity));
  if ((*server)->Listen(*args.listen, &reason)) return true;
  Complain(reason + "; no reader was started");
  return false;
}

void ReportOwnLoad(double wallSeconds) {
  double cpu = platform::OwnProcessorSeconds();
  std::printf("rwstation: processor time %.3f s in %.1f s (%.2f %% of one core)\n", cpu,
              wallSeconds, wallSeconds > 0 ? 100.0 * cpu / wallSeconds : 0.0);
}

}  // namespace

int main(int argc, char **argv) {
  Arguments args;
  std::string why;
  switch (ParseArguments(argc, argv, &args, &why)) {
    case ParseOutcome::kRun: break;
    case ParseOutcome::kShown: return 0;
    case ParseOutcome::kRefused:
      if (!why.empty()) Complain(why);
      std::fputs(kUsage, stderr);
      return kBadPlan;
  }
  Plan plan;
  if (!LoadPlan(args, &plan)) return kBadPlan;
  SessionSettings session;
  session.stopWaitSeconds = args.stopWaitSeconds;
  session.terminal = platform::OutputIsTerminal();
  session.retry = args.retry;
  session.durationSeconds = args.durationSeconds;
  session.durationText = args.durationText;
  ReportSettings report{plan.requireRate, args.title, ""};
  std::string error;
  // The default folder's name is only known once made; the longest it can
  // be is checked with its pattern.
  session.folder =
      args.folder.empty() ? "station-YYYYMMDD-HHMMSS-999" : SafeFolderName(args.folder);
  report.folder = session.folder;
  if (!CommandLinesFit(Station(plan, session), report)) return kBadPlan;
  // Serves the final figures until the verdict is known and main returns.
  std::unique_ptr<StationServer> server;
  if (!OpenServer(args, plan, &server)) return kBadPlan;
  if (server) session.publish = [&server](const Station &now) { server->Publish(now); };
  bool made = MakeSession(args.folder, &session.folder, &error);
  report.folder = session.folder;
  Station station(plan, session);
  if (!made || !station.CheckFolder(&error) || !station.CreateReaderFiles(&error)) {
    Complain(error);
    return kBadPlan;
  }
  // From here on Ctrl-C and the signals only ask for the orderly stop.
  platform::InstallStopHandlers();
  platform::SetStoppable(true);
  if (server) {
    server->Start(station);
    std::printf("rwstation: serving %s (metrics at /metrics, status at /status.json)\n",
                Printable(server->Url()).c_str());
  }
  double started = StationClock();
  station.Run();
  ReportOwnLoad(StationClock() - started);
  int status = StationVerdict(station.Readers(), report);
  if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
    int reason = errno;
    std::fprintf(stderr, "rwstation: cannot write the standard output: %s; the verdict is in %s\n",
                 std::strerror(reason), Printable(ReportText(session.folder)).c_str());
    return 1;
  }
  return status;
}
