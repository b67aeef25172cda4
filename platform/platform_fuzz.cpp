// Fuzzing backend of the platform layer: one simulated serial line fed by the
// fuzz target (platform_fuzz.h) and a virtual clock. Every call of
// platform.h has its counterpart here, in the same order; a call added to
// platform.h gets one too, with the simplest behaviour that keeps runs
// deterministic and never waits for real.
#include "platform_fuzz.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <deque>
#include <string>
#include <utility>

#include "platform.h"
#include "shared_rules.h"

namespace platform {
namespace {

struct TimedByte {
  std::int64_t atMs;
  std::uint8_t value;
};

struct FuzzLine {
  std::int64_t nowMs = 0;
  bool open = false;
  bool openFails = false;
  bool hungUp = false;
  int stalledWrites = 0;
  std::int64_t quietLimitMs = fuzz::kDefaultQuietLimitMs;
  std::int64_t lastActivityMs = 0;  // last byte in either direction
  std::deque<TimedByte> incoming;   // in arrival order
  std::vector<std::uint8_t> written;
  fuzz::WriteHook onWrite;
  CommTimeouts timeouts{};
  std::uint32_t eventMask = 0;
  LineState line{28, 9600, kLineBinary, 8, kNoParity, kOneStopBit};
  std::int64_t stopAtMs = -1;  // -1: no stop request on its way
  bool endedByStop = false;    // a stop came outside the stoppable section
  bool keyPressed = false;
};

FuzzLine state;
// The handle of the one port; its address is all that matters.
int portToken;

bool IsOurPort(PortHandle handle) { return state.open && handle == &portToken; }

// Hands a stop request whose time has come to the shared stop rule, as a
// signal handler would. Returns true when the stoppable section took it.
bool DeliverStop() {
  state.stopAtMs = -1;
  if (rules::TakeStopRequest()) return true;
  state.endedByStop = true;  // a real program would have ended here
  return false;
}

// Moves the clock on to `ms` (never back). A stop request that comes on the
// way and is taken ends the wait there, as a signal ends a real wait: the
// clock stops at the request and false is returned.
bool AdvanceTo(std::int64_t ms) {
  if (state.stopAtMs >= 0 && state.stopAtMs <= ms) {
    state.nowMs = std::max(state.nowMs, state.stopAtMs);
    if (DeliverStop()) return false;
  }
  state.nowMs = std::max(state.nowMs, ms);
  return true;
}

bool ByteWaiting() { return !state.incoming.empty() && state.incoming.front().atMs <= state.nowMs; }

// Moves the clock on until a byte is waiting, `deadlineMs` (-1: no limit)
// has come, or a stop request cuts the wait. Returns false when the far end
// goes away first: nothing is on its way and the line has been quiet for the
// quiet limit.
bool WaitForByte(std::int64_t deadlineMs) {
  if (ByteWaiting()) return true;
  if (!state.incoming.empty()) {
    std::int64_t next = state.incoming.front().atMs;
    AdvanceTo(deadlineMs >= 0 ? std::min(next, deadlineMs) : next);
    return true;
  }
  std::int64_t hangUpAt = std::max(state.lastActivityMs + state.quietLimitMs, state.nowMs);
  if (deadlineMs >= 0 && deadlineMs < hangUpAt) {
    AdvanceTo(deadlineMs);
    return true;
  }
  if (!AdvanceTo(hangUpAt)) return true;
  state.hungUp = true;
  return false;
}

void TakeWaitingBytes(std::uint8_t *out, std::uint32_t count, std::uint32_t *received) {
  while (*received < count && ByteWaiting()) {
    out[(*received)++] = state.incoming.front().value;
    state.lastActivityMs = state.incoming.front().atMs;
    state.incoming.pop_front();
  }
}

}  // namespace

// ---- control side ----

namespace fuzz {

void Reset(std::int64_t clockMs) {
  state = FuzzLine{};
  rules::ResetStopState();
  state.nowMs = clockMs;
  state.lastActivityMs = clockMs;
}

void SetWriteHook(WriteHook hook) { state.onWrite = std::move(hook); }

void Arrive(std::int64_t delayMs, const std::uint8_t *bytes, std::size_t count) {
  std::int64_t at = state.nowMs + std::max<std::int64_t>(delayMs, 0);
  if (!state.incoming.empty()) at = std::max(at, state.incoming.back().atMs);
  for (std::size_t i = 0; i < count; ++i) state.incoming.push_back({at, bytes[i]});
}

void SetQuietLimit(std::int64_t ms) { state.quietLimitMs = ms; }
void StallWrites(int count) { state.stalledWrites = count; }
void SetOpenFails(bool fails) { state.openFails = fails; }
void RequestStop(std::int64_t delayMs) {
  std::int64_t at = state.nowMs + std::max<std::int64_t>(delayMs, 0);
  if (state.stopAtMs < 0 || at < state.stopAtMs) state.stopAtMs = at;
  if (state.stopAtMs <= state.nowMs) DeliverStop();
}
bool StopEndedProgram() { return state.endedByStop; }
void SetKeyPressed(bool pressed) { state.keyPressed = pressed; }
std::int64_t NowMs() { return state.nowMs; }
bool PortIsOpen() { return state.open; }
bool LineHungUp() { return state.hungUp; }
const std::vector<std::uint8_t> &Written() { return state.written; }

}  // namespace fuzz

// ---- serial port ----

PortHandle OpenPort(const char *path) {
  char device[512];
  if (state.open || state.openFails || !DevicePathFor(path, device, sizeof device)) return nullptr;
  state.open = true;
  state.hungUp = false;
  state.timeouts = CommTimeouts{};
  return &portToken;
}

bool SetupQueues(PortHandle port, std::uint32_t, std::uint32_t) { return IsOurPort(port); }

bool SetEventMask(PortHandle port, std::uint32_t mask) {
  if (!IsOurPort(port)) return false;
  state.eventMask = mask;
  return true;
}

bool PurgePort(PortHandle port, std::uint32_t flags) {
  if (!IsOurPort(port)) return false;
  if (flags & (kPurgeRxAbort | kPurgeRxClear)) {
    while (ByteWaiting()) state.incoming.pop_front();
  }
  return true;
}

bool GetTimeouts(PortHandle port, CommTimeouts *timeouts) {
  if (!IsOurPort(port)) return false;
  *timeouts = state.timeouts;
  return true;
}

bool SetTimeouts(PortHandle port, const CommTimeouts &timeouts) {
  if (!IsOurPort(port)) return false;
  state.timeouts = timeouts;
  return true;
}

bool GetLineState(PortHandle port, LineState *line) {
  if (!IsOurPort(port)) return false;
  *line = state.line;
  return true;
}

bool SetLineState(PortHandle port, const LineState &line) {
  if (!IsOurPort(port) || line.baudRate == 0) return false;
  state.line = line;
  return true;
}

bool ClearLineErrors(PortHandle port) { return IsOurPort(port); }

bool ReadPort(PortHandle port, void *buffer, std::uint32_t count, std::uint32_t *received) {
  *received = 0;
  if (!IsOurPort(port) || state.hungUp) return false;
  const CommTimeouts &t = state.timeouts;
  bool returnWhenAny = t.readInterval == kMaxDword;
  std::uint64_t total = std::uint64_t{t.readTotalMultiplier} * count + t.readTotalConstant;
  if (returnWhenAny && total == 0) {  // no wait at all
    TakeWaitingBytes(static_cast<std::uint8_t *>(buffer), count, received);
    return true;
  }
  std::int64_t deadline = total == 0 ? -1 : state.nowMs + static_cast<std::int64_t>(total);
  while (*received < count) {
    if (!WaitForByte(deadline)) return false;
    if (!ByteWaiting()) break;  // time-out or stop request
    TakeWaitingBytes(static_cast<std::uint8_t *>(buffer), count, received);
    if (returnWhenAny) break;
  }
  return true;
}

bool WritePort(PortHandle port, const void *buffer, std::uint32_t count, std::uint32_t *written) {
  *written = 0;
  if (!IsOurPort(port) || state.hungUp) return false;
  if (count == 0) return true;
  if (state.stalledWrites > 0) {
    --state.stalledWrites;
    const CommTimeouts &t = state.timeouts;
    AdvanceTo(state.nowMs + std::int64_t{t.writeTotalMultiplier} * count + t.writeTotalConstant);
    return true;
  }
  const auto *bytes = static_cast<const std::uint8_t *>(buffer);
  state.written.insert(state.written.end(), bytes, bytes + count);
  state.lastActivityMs = state.nowMs;
  *written = count;
  if (state.onWrite) state.onWrite(bytes, count);
  return true;
}

bool ClosePort(PortHandle port) {
  if (!IsOurPort(port)) return false;
  state.open = false;
  return true;
}

// Port names follow the POSIX rule, under a folder of their own.
bool DevicePathFor(const char *portPath, char *device, int size) {
  rules::PortName port = rules::ReadPortName(portPath, "/");
  int n = port.kind == rules::PortName::Kind::kPath
              ? std::snprintf(device, static_cast<std::size_t>(size), "%s", port.name)
              : std::snprintf(device, static_cast<std::size_t>(size), "/fuzz/%s", port.name);
  return n >= 0 && n < size;
}

std::vector<std::string> SearchPortNames(int maxPorts) { return rules::ComPortNames(maxPorts); }

// The parser's limits are those of the platform with the shortest names, so
// that the fuzzer reaches the refusal of a long value with short inputs.
int MaxPortNameLength() { return 58; }
int MaxFilePathLength() { return 259; }

std::string LastPortError() { return state.open ? "" : "the fuzzing line is closed"; }

// ---- clock ----

ClockReading ReadClock() {
  return ClockReading{state.nowMs / 1000, static_cast<std::uint16_t>(state.nowMs % 1000)};
}

void Sleep(int milliseconds) {
  if (milliseconds > 0) AdvanceTo(state.nowMs + milliseconds);
}

void SetIdlePriority() {}

// ---- console and stop requests ----

void GuardStandardDescriptors() {}
void PrepareConsoleInput() {}
void RestoreConsoleInput() {}
bool KeyPressed() { return state.keyPressed; }
bool ErrorSharesOutput() { return false; }
void InstallStopHandlers() {}
// SetStoppable and StopRequested are the shared ones (shared_rules.cpp).

// No file is appended to under the fuzzer: nothing to measure or cut.
std::int64_t FileLength(std::FILE *) { return -1; }
bool TruncateFile(std::FILE *, std::int64_t) { return false; }
bool SyncFileData(std::FILE *) { return true; }

}  // namespace platform
