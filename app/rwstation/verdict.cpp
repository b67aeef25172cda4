#include "app/rwstation/verdict.h"

#include <cstdio>
#include <map>

#include "app/rwstation/view.h"
#include "platform/process.h"
#include "report/csv_cells.h"
#include "report/judgement.h"
#include "report/report_output.h"

namespace {

constexpr int kPassed = 0;
constexpr int kNotPassed = 1;

// Runs `program` to its end with its output going to `outputPath`. Returns
// its exit status, or -1 with the reason when it could not be started.
int RunToEnd(const std::string &program, const std::vector<std::string> &args,
             const std::string &outputPath, std::string *error) {
  platform::Child child;
  if (!platform::StartChild(program, args, outputPath, false, &child, error)) {
    *error = "cannot start " + *error;
    return -1;
  }
  while (!platform::ChildEnded(&child)) platform::Pause(20);
  return child.exitStatus;
}

// True when the file holds at least one byte: a result file the station
// made stays empty when its tool could not write a record.
bool HasContent(const std::string &path) {
  std::FILE *file = std::fopen(path.c_str(), "rb");
  if (!file) return false;
  bool content = std::fgetc(file) != EOF;
  std::fclose(file);
  return content;
}

// Copies rwreport's console output to ours as it is: rwreport shows texts
// from files with their control characters made visible already.
void ShowFile(const std::string &path) {
  std::FILE *file = std::fopen(path.c_str(), "rb");
  if (!file) return;
  char buffer[65536];
  std::size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, file)) > 0) std::fwrite(buffer, 1, n, stdout);
  std::fclose(file);
}

// Names the readers that failed, and those that lost their R/W and got it
// back. Returns false when one failed.
bool NameReaders(const std::vector<StationReader> &readers) {
  bool allGood = true;
  for (const StationReader &reader : readers) {
    const ReaderProgress &p = reader.progress;
    std::string line;
    if (p.state == ReaderState::kFailed) {
      allGood = false;
      line = reader.plan.name + " failed: " + CauseText(p);
    } else if (!p.losses.Episodes().empty()) {
      line = reader.plan.name + " lost its R/W: " + LossCell(p) + "; judged on its card finding";
    }
    if (!line.empty()) std::printf("rwstation: %s\n", line.c_str());
  }
  return allGood;
}

// "unit3 97.12 % [96.50, 97.65]", with the digits that tell the figures
// from the required rate.
std::string RateOf(const GroupJudgement &group, double requiredPercent) {
  int decimals =
      DecimalsBeside(requiredPercent, {group.ratePercent, group.interval.low, group.interval.high});
  return group.label + " " + FixedN(group.ratePercent, decimals) + " % [" +
         FixedN(group.interval.low, decimals) + ", " + FixedN(group.interval.high, decimals) + "]";
}

// "; below it: a 97.12 % [96.50, 97.65], b ..."; empty without any item.
std::string ListPart(const char *heading, const std::vector<std::string> &items) {
  if (items.empty()) return "";
  std::string part = std::string("; ") + heading + ": ";
  for (std::size_t i = 0; i < items.size(); ++i) part += (i ? ", " : "") + items[i];
  return part;
}

// Each reader's judgement, by its name: its files are named after it.
std::map<std::string, GroupJudgement> JudgementsByReader(const Judgement &judged) {
  std::map<std::string, GroupJudgement> byName;
  for (const GroupJudgement &group : judged.groups) byName[group.label] = group;
  return byName;
}

// What the verdict line says of the gate: how many readers passed it and
// those below it or undecided; without one, how many readers ran.
std::string GatePart(const std::vector<StationReader> &readers, const Judgement &judged,
                     double requiredPercent) {
  std::map<std::string, GroupJudgement> byName = JudgementsByReader(judged);
  std::vector<std::string> below, undecided;
  int passed = 0, ran = 0;
  for (const StationReader &reader : readers) {
    auto found = byName.find(reader.plan.name);
    if (found == byName.end() || found->second.attempts == 0) continue;
    const GroupJudgement &group = found->second;
    ++ran;
    if (!group.gated) continue;
    if (group.verdict == Verdict::kPass) ++passed;
    if (group.verdict == Verdict::kFail) below.push_back(RateOf(group, requiredPercent));
    if (group.verdict == Verdict::kUndecided) undecided.push_back(RateOf(group, requiredPercent));
  }
  std::string of = " of " + CountOf(static_cast<long long>(readers.size()), "reader", "readers");
  if (requiredPercent < 0) return std::to_string(ran) + of + " ran, no rate required";
  return std::to_string(passed) + of + " passed " + RequiredText(requiredPercent) + " %" +
         ListPart("below it", below) + ListPart("undecided", undecided);
}

// The readers that failed, with why, and those that lost their R/W, with
// how often and for how long.
std::string ReaderParts(const std::vector<StationReader> &readers) {
  std::vector<std::string> failed, lost;
  for (const StationReader &reader : readers) {
    const ReaderProgress &p = reader.progress;
    if (p.state == ReaderState::kFailed)
      failed.push_back(reader.plan.name + " (" + CauseText(p) + ")");
    std::size_t episodes = p.losses.Episodes().size();
    if (episodes == 0) continue;
    lost.push_back(reader.plan.name + " " + std::to_string(episodes) + "x " +
                   ShortDuration(p.losses.LostSeconds()) +
                   (p.losses.Lost() ? " (gone at the end)" : ""));
  }
  return ListPart("failed", failed) + ListPart("lost their R/W", lost);
}

}  // namespace

std::string VerdictLine(const std::vector<StationReader> &readers, const ReportSettings &settings,
                        int status, const std::string &noVerdict) {
  std::string line = status == kPassed ? "rwstation: PASS: " : "rwstation: FAIL: ";
  JudgementRequest request;
  request.files = ReportFiles(readers, false);
  request.by = GroupBy::kFile;
  request.requiredPercent = RequiredPercent(settings.requireRate).value_or(-1);
  std::string error;
  std::optional<Judgement> judged;
  if (!request.files.empty()) judged = Judge(request, &error);
  if (judged) line += GatePart(readers, *judged, request.requiredPercent);
  if (!noVerdict.empty()) {
    line += (judged ? "; no verdict: " : "no verdict: ") + noVerdict;
  } else if (!judged) {
    line += request.files.empty() ? "no reader recorded a run" : "no verdict: " + error;
  }
  return Printable(line + ReaderParts(readers));
}

std::vector<std::string> ReportFiles(const std::vector<StationReader> &readers, bool everyReader) {
  std::vector<std::string> files;
  for (const StationReader &reader : readers) {
    if (!everyReader && reader.progress.runs == 0) continue;
    if (everyReader || HasContent(reader.resultPath)) files.push_back(reader.resultPath);
    files.push_back(reader.logPath);
  }
  return files;
}

std::vector<std::string> ReportArguments(const std::vector<StationReader> &readers,
                                         const ReportSettings &settings, bool everyReader) {
  int grouped = 0;
  for (const StationReader &reader : readers)
    grouped += everyReader || reader.progress.runs > 0 ? 1 : 0;
  std::vector<std::string> args{"--by", "file"};
  if (!settings.requireRate.empty()) args.insert(args.end(), {"--require", settings.requireRate});
  if (grouped >= 2) args.push_back("--compare");
  args.insert(args.end(), {"--html", ReportPage(settings.folder)});
  args.insert(args.end(), {"--junit", ReportJunit(settings.folder)});
  // Joined to its word: a title may begin with "-".
  if (!settings.title.empty()) args.push_back("--title=" + settings.title);
  args.push_back("--");
  std::vector<std::string> files = ReportFiles(readers, everyReader);
  args.insert(args.end(), files.begin(), files.end());
  return args;
}

namespace {

// Runs rwreport over the session with its console output kept in
// report.txt and shown from there. Returns its exit status, 0 or 1, or -1
// with why there is no verdict ("" when no reader recorded a run).
int RunReport(const std::vector<StationReader> &readers, const ReportSettings &settings,
              std::string *noVerdict) {
  bool anyRun = false;
  for (const StationReader &reader : readers) anyRun = anyRun || reader.progress.runs > 0;
  if (!anyRun) return -1;
  std::string rwreport =
      platform::FindProgram(platform::ExecutableName("rwreport"), platform::OwnProgramFolder());
  std::string error;
  std::string output = ReportText(settings.folder);
  if (rwreport.empty()) {
    error = "rwreport not found beside rwstation or on the PATH";
  } else if (platform::PathExists(ReportPage(settings.folder)) ||
             platform::PathExists(ReportJunit(settings.folder))) {
    // Put there during the session: not ours to replace or write through.
    error = "report.html or junit.xml appeared in " + settings.folder + " during the session";
  } else if (platform::CreateNewFile(output, &error)) {
    std::fflush(stdout);
    int reportStatus = RunToEnd(rwreport, ReportArguments(readers, settings), output, &error);
    std::printf("\n");
    ShowFile(output);
    if (reportStatus == 0 || reportStatus == 1) return reportStatus;
    if (reportStatus >= 0)
      error = "rwreport ended with exit status " + std::to_string(reportStatus);
  }
  *noVerdict = Printable(error);
  std::fprintf(stderr, "rwstation: %s: no verdict\n", noVerdict->c_str());
  return -1;
}

}  // namespace

int StationVerdict(const std::vector<StationReader> &readers, const ReportSettings &settings) {
  int status = NameReaders(readers) ? kPassed : kNotPassed;
  std::string noVerdict;
  if (RunReport(readers, settings, &noVerdict) != 0) status = kNotPassed;
  std::printf("%s\n", VerdictLine(readers, settings, status, noVerdict).c_str());
  return status;
}
