#include "poll/startup.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "link/event_log.h"
#include "platform/platform.h"
#include "project_version.h"

namespace {

// The run's event log; written out at exit by its destructor.
eventlog::Log eventLog;

std::string WallClockNow() {
  std::time_t now = std::time(nullptr);
  char text[32] = "";
  if (const std::tm *utc = std::gmtime(&now))
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", utc);
  return text;
}

std::string HexKey(const std::uint8_t *key) {
  char text[17];
  for (int i = 0; i < 8; ++i) std::snprintf(text + 2 * i, 3, "%02X", key[i]);
  return text;
}

void LogStart(const RunSettings &settings, const ToolTexts &texts) {
  const ReaderSettings &r = settings.reader;
  const PollSettings &p = settings.poll;
  eventlog::Emit(eventlog::Event("start")
                     .Text("tool", texts.name)
                     .Text("title", texts.title)
                     .Text("version", PROJECT_VERSION_TEXT)
                     .Text("wall", WallClockNow())
                     .Text("port", p.portGiven ? r.portPath : "")
                     .Flag("search", !p.portGiven)
                     .Int("baud", r.baudRate)
                     .Text("ka", HexKey(r.Ka))
                     .Text("kb", HexKey(r.Kb))
                     .Int("ack_ms", r.ackTimeoutMs)
                     .Int("response_ms", r.responseTimeoutMs)
                     .Flag("des", r.desEnabled)
                     .Int("attempts_per_run", p.attemptsPerRun)
                     .Flag("repeat", p.repeatRuns)
                     .Text("result_file", p.resultPath)
                     .Int("tag", p.recordTag)
                     .Int("failure_limit", p.failureLimitSet ? p.failureLimit : -1)
                     .Flag("comma_terminated", p.commaTerminated));
}

}  // namespace

std::optional<int> StartTool(int argc, char **argv, RunSettings &settings, const ToolTexts &texts) {
  // Before anything is opened: the event log must not become standard output.
  platform::GuardStandardDescriptors();
  platform::SetIdlePriority();
  platform::InstallStopHandlers();
  SetDefaultReaderSettings(settings.reader);
  SetDefaultPollSettings(settings.poll);
  std::printf("\n");
  switch (ParseOptions(argc, argv, settings.reader, settings.poll, texts)) {
    case ParseOutcome::kRun: break;
    case ParseOutcome::kShown: return 0;
    case ParseOutcome::kRefused: return kUsageErrorStatus;
  }
  if (settings.poll.logPath[0] != '\0') {
    if (!eventLog.Open(settings.poll.logPath)) {
      std::fprintf(stderr, "Cannot open the event log %s: %s\n", settings.poll.logPath,
                   std::strerror(errno));
      return 1;
    }
    eventlog::SetCurrent(&eventLog);
    LogStart(settings, texts);
  }
  PrintBanner(texts);
  std::fflush(stdout);
  // A key pressed from here on, during the connection too, stops polling.
  platform::PrepareConsoleInput();
  return std::nullopt;
}

int EndTool(int status) {
  eventlog::Log *log = eventlog::Current();
  if (!log || log->Flush()) return status;
  std::fprintf(stderr, "Cannot write the event log %s: %s\n", log->Path().c_str(),
               log->Error().c_str());
  return 1;
}
