#include "app/rwstation/verdict.h"

#include <cstdio>

#include "platform/process.h"

namespace {

constexpr int kPassed = 0;
constexpr int kNotPassed = 1;

int RunToEnd(const std::string &program, const std::vector<std::string> &args) {
  platform::Child child;
  std::string error;
  std::fflush(stdout);
  if (!platform::StartChild(program, args, "", false, &child, &error)) {
    std::fprintf(stderr, "rwstation: cannot run %s\n", error.c_str());
    return -1;
  }
  while (!platform::ChildEnded(&child)) platform::Pause(20);
  return child.exitStatus;
}

}  // namespace

std::vector<std::string> ReportArguments(const std::vector<StationReader> &readers,
                                         const std::string &requireRate,
                                         const std::string &folder) {
  std::vector<std::string> files;
  int grouped = 0;
  for (const StationReader &reader : readers) {
    if (reader.progress.runs == 0) continue;
    ++grouped;
    if (platform::PathExists(reader.resultPath)) files.push_back(reader.resultPath);
    files.push_back(reader.logPath);
  }
  std::vector<std::string> args{"--by", "file"};
  if (!requireRate.empty()) args.insert(args.end(), {"--require", requireRate});
  if (grouped >= 2) args.push_back("--compare");
  args.insert(args.end(), {"--html", ReportPage(folder)});
  args.insert(args.end(), files.begin(), files.end());
  return args;
}

int Verdict(const std::vector<StationReader> &readers, const std::string &requireRate,
            const std::string &folder) {
  int status = kPassed;
  bool anyRun = false;
  for (const StationReader &reader : readers) {
    anyRun = anyRun || reader.progress.runs > 0;
    if (reader.progress.state == ReaderState::kFailed) {
      std::printf("rwstation: %s failed: %s\n", reader.plan.name.c_str(),
                  reader.progress.cause.c_str());
      status = kNotPassed;
    }
  }
  if (!anyRun) {
    std::printf("rwstation: no reader recorded a run: nothing to report\n");
    return kNotPassed;
  }
  std::string rwreport =
      platform::FindProgram(platform::ExecutableName("rwreport"), platform::OwnProgramFolder());
  if (rwreport.empty()) {
    std::fprintf(stderr, "rwstation: rwreport not found beside rwstation or on the PATH\n");
    return kNotPassed;
  }
  std::printf("\n");
  int reportStatus = RunToEnd(rwreport, ReportArguments(readers, requireRate, folder));
  if (reportStatus == 1) return kNotPassed;
  if (reportStatus != 0) {
    std::fprintf(stderr, "rwstation: rwreport ended with status %d: no verdict\n", reportStatus);
    return kNotPassed;
  }
  return status;
}
