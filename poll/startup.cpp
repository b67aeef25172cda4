#include "poll/startup.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <system_error>
#ifdef _WIN32
#include <cwctype>
#endif

#include "link/event_log.h"
#include "link/hex_text.h"
#include "platform/platform.h"
#include "poll/polling_loop.h"
#include "project_version.h"
#include "secure/des_cipher.h"

namespace {

std::string WallClockNow() {
  std::time_t now = std::time(nullptr);
  char text[32] = "";
  if (const std::tm *utc = std::gmtime(&now))
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", utc);
  return text;
}

// Names a key without showing it, as key custodians do: the first three
// bytes of the single-DES encryption of a zero block under it, in hex.
std::string KeyCheckValue(const std::uint8_t *key) {
  static const std::uint8_t kZeroBlock[8] = {};
  std::uint8_t block[8];
  DesCipher cipher(1, key);
  cipher.EncryptBlock(kZeroBlock, block);
  return hex::Format(block, 3, "");
}

void LogStart(eventlog::Log &log, const RunSettings &settings, const ToolTexts &texts) {
  const ReaderSettings &r = settings.reader;
  const PollSettings &p = settings.poll;
  log.Write(
      eventlog::Event("start")
          .Text("tool", texts.name)
          .Text("title", texts.title)
          .Text("version", PROJECT_VERSION_TEXT)
          .Text("wall", WallClockNow())
          .Text("port", p.portGiven ? r.portPath + std::strlen(kPortPrefix) : "")
          .Flag("search", !p.portGiven)
          .Int("baud", r.baudRate)
          .Text("ka_kcv", KeyCheckValue(r.Ka))
          .Text("kb_kcv", KeyCheckValue(r.Kb))
          .Int("ack_ms", r.ackTimeoutMs)
          .Int("response_ms", r.responseTimeoutMs)
          .Flag("des", r.desEnabled)
          .Int("attempts_per_run", p.attemptsPerRun)
          .Flag("repeat", p.repeatRuns)
          .Text("result_file", p.resultPath)
          .Int("tag", p.recordTag)
          .Int("failure_limit", p.failureLimitSet ? p.failureLimit : -1)
          .Flag("comma_terminated", p.commaTerminated)
          .Text("frames", p.logAllFrames ? "all" : "failures")
          .Int("run_for_s", p.runForSeconds > 0 ? static_cast<long long>(p.runForSeconds) : -1));
}

// A path as the system resolves it, for comparing paths of files that may
// not exist yet. Standard error ("-") is the file it is open on.
std::filesystem::path Resolved(const char *path) {
  namespace fs = std::filesystem;
#ifndef _WIN32
  fs::path given = std::strcmp(path, "-") == 0 ? fs::path("/dev/stderr") : fs::path(path);
#else
  fs::path given(path);
#endif
  std::error_code error;
  fs::path resolved = fs::weakly_canonical(given, error);
  if (error) resolved = fs::absolute(given, error).lexically_normal();
#ifdef _WIN32
  std::wstring folded = resolved.wstring();
  for (wchar_t &c : folded) c = static_cast<wchar_t>(std::towlower(c));
  resolved = folded;
#endif
  return resolved;
}

// True when the two paths name one file however they are written: the same
// device and inode where it exists, else the same path once normalised. A
// device such as /dev/null or a terminal takes both without harm.
bool SameFile(const char *a, const char *b) {
  namespace fs = std::filesystem;
  std::error_code error;
  if (fs::status(Resolved(a), error).type() == fs::file_type::character) return false;
  if (fs::equivalent(Resolved(a), Resolved(b), error)) return true;
  return Resolved(a) == Resolved(b);
}

// Records mixed into the event log's lines would spoil both files.
bool OutputsApart(const PollSettings &poll) {
  if (poll.resultPath[0] == '\0' || poll.logPath[0] == '\0') return true;
  if (!SameFile(poll.resultPath, poll.logPath)) return true;
  std::fprintf(stderr, "The result file (f %s) and the event log (log %s) are the same file\n",
               poll.resultPath, poll.logPath);
  return false;
}

}  // namespace

std::optional<int> StartTool(int argc, char **argv, RunSettings &settings, const ToolTexts &texts,
                             eventlog::Log &log) {
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
  if (!OutputsApart(settings.poll)) return kUsageErrorStatus;
  if (settings.poll.logPath[0] != '\0') {
    if (!log.Open(settings.poll.logPath)) {
      std::fprintf(stderr, "Cannot open the event log %s: %s\n", settings.poll.logPath,
                   std::strerror(errno));
      return 1;
    }
    log.SetFrameLogging(settings.poll.logAllFrames ? eventlog::FrameLogging::kAll
                                                   : eventlog::FrameLogging::kFailures);
    LogStart(log, settings, texts);
  }
  PrintBanner(texts);
  std::fflush(stdout);
  // A key pressed from here on, during the connection too, stops polling.
  platform::PrepareConsoleInput();
  return std::nullopt;
}

int EndTool(int status, eventlog::Log *log) {
  if (!log || log->Flush()) return status;
  std::fprintf(stderr, "Cannot write the event log %s: %s\n", log->Path().c_str(),
               log->Error().c_str());
  if (log->PartialLineLeft()) {
    std::fprintf(stderr, "The event log %s ends in an incomplete line that could not be removed\n",
                 log->Path().c_str());
  }
  return 1;
}

int PollOnConsole(ReaderBinding &reader, const PollSettings &poll, std::uint8_t *cardIdOut,
                  eventlog::Log *log) {
  bool polled = RunPollingLoop(reader, poll, cardIdOut, ConsoleLoopHooks(log));
  return EndTool(polled ? 0 : 1, log);
}
