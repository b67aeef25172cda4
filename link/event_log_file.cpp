// Writing the event log: the file, the batching that keeps it off the
// attempt cycle, and the frames held back until an attempt's outcome is
// known.
#include <cerrno>
#include <cstring>

#include "link/event_log.h"
#include "link/file_append.h"
#include "platform/platform.h"

namespace eventlog {
namespace {

constexpr std::size_t kFlushSize = 64 * 1024;
constexpr std::int64_t kFlushIntervalUs = 1000000;

}  // namespace

bool FramesExplain(Failure outcome) {
  return outcome != Failure::kNone && outcome != Failure::kNoCard &&
         outcome != Failure::kNoCardOrNoAnswer;
}

Log::~Log() {
  Flush();
  if (ownsFile_) std::fclose(file_);
}

bool Log::Open(const char *path) {
  path_ = path;
  if (std::strcmp(path, "-") == 0) {
    file_ = stderr;
    return true;
  }
  file_ = std::fopen(path, "ab");
  ownsFile_ = file_ != nullptr;
  // The log keeps its own buffer: every write goes out whole, when it is
  // meant to, and can be cut back when the file takes only part of it.
  if (ownsFile_) std::setvbuf(file_, nullptr, _IONBF, 0);
  return ownsFile_;
}

void Log::SetBatching(bool batching) {
  batching_ = batching;
  if (!batching) Flush();
}

void Log::Write(const Event &event) {
  if (!file_) return;
  std::int64_t now = NowUs();
  buffer_ += event.Line(now);
  if (!batching_ || buffer_.size() >= kFlushSize || now - lastFlushUs_ >= kFlushIntervalUs) {
    Flush();
  }
}

void Log::WriteFrame(const Event &event) {
  if (!file_) return;
  if (inAttempt_ && frames_ == FrameLogging::kFailures) {
    attemptFrames_ += event.Line(NowUs());
  } else {
    Write(event);
  }
}

void Log::EndAttempt(Failure outcome) {
  inAttempt_ = false;
  if (FramesExplain(outcome)) buffer_ += attemptFrames_;
  attemptFrames_.clear();
}

bool Log::Flush() {
  lastFlushUs_ = NowUs();
  if (!file_) return !failed_;
  if (!buffer_.empty()) {
    Append(buffer_);
    buffer_.clear();
  }
  return !failed_;
}

void Log::Append(std::string_view lines) {
  AppendOutcome outcome = AppendWhole(file_, lines.data(), lines.size(), true);
  if (!outcome.written) NoteFailure(outcome.error);
  partialLeft_ = partialLeft_ || outcome.cutFailed;
}

void Log::NoteFailure(const std::string &reason) {
  if (!failed_) error_ = reason;
  failed_ = true;
}

bool Log::Sync() {
  Flush();
  if (file_ && platform::FileLength(file_) >= 0 && !platform::SyncFileData(file_)) {
    NoteFailure(std::strerror(errno));
  }
  return !failed_;
}

}  // namespace eventlog
