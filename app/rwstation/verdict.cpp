#include "app/rwstation/verdict.h"

#include <cstdio>

#include "app/rwstation/view.h"
#include "platform/process.h"
#include "report/csv_cells.h"

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

}  // namespace

std::vector<std::string> ReportArguments(const std::vector<StationReader> &readers,
                                         const ReportSettings &settings, bool everyReader) {
  std::vector<std::string> files;
  int grouped = 0;
  for (const StationReader &reader : readers) {
    if (!everyReader && reader.progress.runs == 0) continue;
    ++grouped;
    if (everyReader || HasContent(reader.resultPath)) files.push_back(reader.resultPath);
    files.push_back(reader.logPath);
  }
  std::vector<std::string> args{"--by", "file"};
  if (!settings.requireRate.empty()) args.insert(args.end(), {"--require", settings.requireRate});
  if (grouped >= 2) args.push_back("--compare");
  args.insert(args.end(), {"--html", ReportPage(settings.folder)});
  // Joined to its word: a title may begin with "-".
  if (!settings.title.empty()) args.push_back("--title=" + settings.title);
  args.push_back("--");
  args.insert(args.end(), files.begin(), files.end());
  return args;
}

int Verdict(const std::vector<StationReader> &readers, const ReportSettings &settings) {
  int status = NameReaders(readers) ? kPassed : kNotPassed;
  bool anyRun = false;
  for (const StationReader &reader : readers) anyRun = anyRun || reader.progress.runs > 0;
  if (!anyRun) {
    std::printf("rwstation: no reader recorded a run: nothing to report\n");
    return kNotPassed;
  }
  std::string rwreport =
      platform::FindProgram(platform::ExecutableName("rwreport"), platform::OwnProgramFolder());
  std::string error;
  std::string output = ReportText(settings.folder);
  if (rwreport.empty()) {
    error = "rwreport not found beside rwstation or on the PATH";
  } else if (platform::PathExists(ReportPage(settings.folder))) {
    // Put there during the session: not ours to replace or write through.
    error = ReportPage(settings.folder) + " appeared during the session";
  } else if (platform::CreateNewFile(output, &error)) {
    std::fflush(stdout);
    int reportStatus = RunToEnd(rwreport, ReportArguments(readers, settings), output, &error);
    std::printf("\n");
    ShowFile(output);
    if (reportStatus == 0 || reportStatus == 1) return reportStatus == 0 ? status : kNotPassed;
    if (reportStatus >= 0)
      error = "rwreport ended with exit status " + std::to_string(reportStatus);
  }
  std::fprintf(stderr, "rwstation: %s: no verdict\n", Printable(error).c_str());
  return kNotPassed;
}
