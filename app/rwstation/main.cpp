// rwstation: runs one kestrow or brimlet per reader of a plan at once, shows
// their progress from their event logs, and ends with rwreport's verdict.
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "app/rwstation/plan.h"
#include "app/rwstation/station.h"
#include "app/rwstation/verdict.h"
#include "platform/platform.h"
#include "platform/process.h"
#include "poll/command_line.h"
#include "poll/number_text.h"

namespace {

const char kUsage[] =
    "Usage: rwstation [options] PLAN\n"
    "       rwstation [options] --reader \"NAME TOOL WORD VALUE...\"...\n"
    "Runs one kestrow or brimlet per reader of the plan at once, shows their progress\n"
    "from their event logs, and ends with rwreport's verdict over all readers.\n"
    "PLAN is a file with one reader per line: a name, the tool (kestrow or brimlet)\n"
    "and the tool's option words, e.g. \"unit07 kestrow c /dev/ttyUSB3 t 1000 d 7\";\n"
    "a line \"require RATE\" sets the gate; # starts a comment. The station sets each\n"
    "reader's f and log. Ctrl-C stops every reader in order.\n"
    "  --reader LINE     a reader, as a line of the plan (repeatable)\n"
    "  --require RATE    the success rate in percent that every reader must show\n"
    "  --session DIR     the session folder (default station-YYYYMMDD-HHMMSS)\n"
    "  --stop-wait TIME  how long a stopped reader may take to end, 1s to 1h, such as\n"
    "                    90s or 5m; digits alone are seconds (default 10)\n"
    "  --help            print this text and exit\n"
    "  --version         print the version and exit\n"
    "Exit status: 0 every reader ran and passed, 1 a reader failed or did not pass,\n"
    "2 a bad plan or command line.\n";

constexpr int kBadPlan = 2;

struct Arguments {
  std::string planPath;
  std::vector<std::string> readerLines;
  std::string requireRate;
  std::string folder;
  int stopWaitSeconds = 10;
};

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
    } else if (word == "--stop-wait" && hasValue) {
      std::string text = argv[++i];
      std::optional<std::uint64_t> seconds = numtext::ParseDuration(text, 1, 3600, &reason);
      if (!seconds) {
        *why = "--stop-wait " + text + ": " + reason;
        return ParseOutcome::kRefused;
      }
      args->stopWaitSeconds = static_cast<int>(*seconds);
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
      std::fprintf(stderr, "rwstation: cannot read the plan %s: %s\n", args.planPath.c_str(),
                   std::strerror(errno));
      return false;
    }
    lines = PlanFileLines(text);
    for (PlanLine &line : lines) line.where = args.planPath + " " + line.where;
  }
  for (std::size_t i = 0; i < args.readerLines.size(); ++i)
    lines.push_back(PlanLine{args.readerLines[i], "--reader " + std::to_string(i + 1)});
  std::vector<std::string> errors;
  if (!ReadPlan(lines, plan, &errors)) {
    for (const std::string &error : errors) std::fprintf(stderr, "rwstation: %s\n", error.c_str());
    std::fprintf(stderr, "rwstation: the plan is refused; no reader was started\n");
    return false;
  }
  if (!args.requireRate.empty()) plan->requireRate = args.requireRate;
  return true;
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
      if (!why.empty()) std::fprintf(stderr, "rwstation: %s\n", why.c_str());
      std::fputs(kUsage, stderr);
      return kBadPlan;
  }
  Plan plan;
  if (!LoadPlan(args, &plan)) return kBadPlan;
  SessionSettings session{args.folder.empty() ? NewSessionFolder() : args.folder,
                          args.stopWaitSeconds, platform::OutputIsTerminal()};
  Station station(plan, session);
  std::string error;
  if (!platform::MakeFolder(session.folder, &error) || !station.CheckFolder(&error)) {
    std::fprintf(stderr, "rwstation: %s\n", error.c_str());
    return kBadPlan;
  }
  // From here on Ctrl-C and the signals only ask for the orderly stop.
  platform::InstallStopHandlers();
  platform::SetStoppable(true);
  platform::ClockReading started = platform::ReadClock();
  station.Run();
  platform::ClockReading ended = platform::ReadClock();
  ReportOwnLoad(static_cast<double>(ended.seconds - started.seconds) +
                (ended.milliseconds - started.milliseconds) / 1000.0);
  int status = Verdict(station.Readers(), plan.requireRate, session.folder);
  if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
    std::fprintf(stderr, "rwstation: cannot write the standard output: %s\n", std::strerror(errno));
    return 1;
  }
  return status;
}
