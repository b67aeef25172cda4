#include "link/cmd.h"

#include <cstring>

namespace {

constexpr int kWriteTimeoutMs = 400;
constexpr int kEmptyReadPauseMs = 10;
constexpr int kUnlimitedReadPauseMs = 50;
// A read that has waited this long gives way to a stop request. A healthy
// R/W has answered by then, so an attempt in progress at a Ctrl-C still
// counts; a silent or trickling one no longer holds the tool.
constexpr int kStopGraceMs = 100;
// A drain that goes on past either bound faces an R/W that does not stop
// sending; the exchange then fails instead of reading for ever.
constexpr int kDrainByteLimit = 4096;
constexpr int kDrainTimeLimitMs = 300;

}  // namespace

CCmd::CCmd(const char *portPath, std::int32_t baudRate, std::uint8_t byteSize, std::uint8_t parity,
           std::uint8_t stopBits, std::int32_t responseTimeoutMs, std::int32_t ackTimeoutMs,
           std::int32_t queueSize)
    : CComm(portPath, baudRate, byteSize, parity, stopBits, queueSize),
      ackTimeoutMs(ackTimeoutMs),
      responseTimeoutMs(responseTimeoutMs) {}

CCmd::~CCmd() = default;

bool CCmd::ReadBytes(std::uint8_t *buffer, int count, std::uint32_t &received, int timeoutMs) {
  if (!buffer || !portHandle) return false;
  platform::ClearLineErrors(portHandle);
  CTimer timer;
  timer.Start();
  CTimer waited;
  received = 0;
  if (count <= 0) return true;
  std::uint8_t byte = 0;
  std::uint32_t got = 0;
  if (!ReadOne(&byte, &got)) return false;
  for (;;) {
    if (got > 0) {
      buffer[received] = byte;
      received += got;
      timer.Start();
    } else {
      platform::Sleep(kEmptyReadPauseMs);
      platform::ClearLineErrors(portHandle);
    }
    if (received == static_cast<std::uint32_t>(count)) return true;
    if (platform::StopRequested() && waited.IsElapsed(kStopGraceMs)) return CutByStop();
    if (timeoutMs == 0) {
      platform::Sleep(kUnlimitedReadPauseMs);
    } else if (timer.IsElapsed(timeoutMs)) {
      return false;
    }
    if (!ReadOne(&byte, &got)) return false;
  }
}

bool CCmd::ReadOne(std::uint8_t *byte, std::uint32_t *got) {
  if (platform::ReadPort(portHandle, byte, 1, got)) return true;
  portFailed = true;
  return false;
}

bool CCmd::WriteBytes(const std::uint8_t *buffer, int count, std::uint32_t &written,
                      int timeoutMs) {
  if (!buffer || !portHandle) return false;
  platform::ClearLineErrors(portHandle);
  CTimer timer;
  timer.Start();
  CTimer waited;
  written = 0;
  if (count <= 0) return true;
  for (;;) {
    std::uint32_t n = 0;
    if (!platform::WritePort(portHandle, buffer + written, count - written, &n)) {
      portFailed = true;
      return false;
    }
    if (n > 0) {
      written += n;
      timer.Start();
      if (written == static_cast<std::uint32_t>(count)) return true;
    } else {
      platform::ClearLineErrors(portHandle);
    }
    if (platform::StopRequested() && waited.IsElapsed(kStopGraceMs)) return CutByStop();
    if (timer.IsElapsed(timeoutMs)) return written == static_cast<std::uint32_t>(count);
  }
}

bool CCmd::DrainInput() {
  platform::CommTimeouts saved{};
  platform::GetTimeouts(portHandle, &saved);
  platform::SetTimeouts(portHandle, kDrainTimeouts);
  CTimer timer;
  timer.Start();
  std::uint8_t byte;
  std::uint32_t got = 0;
  int drained = 0;
  bool bounded = true;
  // A stop request ends the drain as if the input had fallen quiet, so that
  // the close command that follows still goes out.
  while (!platform::StopRequested()) {
    if (!platform::ReadPort(portHandle, &byte, 1, &got) || got == 0) break;
    if (++drained > kDrainByteLimit || timer.IsElapsed(kDrainTimeLimitMs)) {
      bounded = false;
      break;
    }
  }
  platform::SetTimeouts(portHandle, saved);
  return bounded;
}

bool CCmd::SendFrame(const std::uint8_t *cmd) { return SendFrame(cmd + 1, cmd[0]); }

bool CCmd::SendFrame(const std::uint8_t *data, int count) {
  std::uint8_t out[3 + 260];
  std::memset(out, 0, sizeof out);
  int length = frame::Encode(data, count & 0xFF, out);
  std::uint32_t written = 0;
  bool sent = WriteBytes(out, length, written, kWriteTimeoutMs);
  if (eventLog) {
    eventLog->WriteFrame(
        eventlog::Event("tx").HexBytes("frame", out, length).Flag("written", sent));
  }
  return sent;
}

int CCmd::ReceiveFrame(std::uint8_t *out, int timeoutMs) {
  rxLog.clear();
  int result = ReadFrame(out, timeoutMs);
  if (eventLog) {
    eventLog->WriteFrame(eventlog::Event("rx")
                             .HexBytes("frame", rxLog.data(), static_cast<int>(rxLog.size()))
                             .Int("result", result));
  }
  return result;
}

void CCmd::NoteReceived(const std::uint8_t *bytes, std::uint32_t count) {
  if (eventLog) rxLog.insert(rxLog.end(), bytes, bytes + count);
}

int CCmd::ReadFrame(std::uint8_t *out, int timeoutMs) {
  std::uint8_t in[300];
  std::uint32_t received = 0;
  std::memset(in, 0, sizeof in);
  bool ok = ReadBytes(in, 3, received, timeoutMs);  // preamble, start code
  NoteReceived(in, received);
  if (!ok) return kExchangeTimeout;
  std::memset(in, 0, sizeof in);
  ok = ReadBytes(in, 2, received, timeoutMs);
  NoteReceived(in, received);
  if (!ok) return kExchangeTimeout;
  std::uint8_t length = in[0];
  auto sum = static_cast<std::uint8_t>(in[0] + in[1]);
  if (sum == 0xFF) {
    std::memset(in, 0, sizeof in);
    ok = ReadBytes(in, 1, received, timeoutMs);
    NoteReceived(in, received);
    return ok ? kExchangeGotAck : kExchangeTimeout;
  }
  if (sum != 0x00) return kExchangeBadFrame;  // the next drain discards the rest
  out[0] = length;
  std::memset(in, 0, sizeof in);
  ok = ReadBytes(in, length + 2, received, timeoutMs);
  NoteReceived(in, received);
  if (!ok) return kExchangeTimeout;
  std::memcpy(out + 1, in, length);
  return frame::DataChecksum(in, length) == in[length] ? kExchangeOk : kExchangeBadFrame;
}

int CCmd::Transceive(const std::uint8_t *cmd, std::uint8_t *response) {
  return Transceive(cmd + 1, cmd[0], response);
}

int CCmd::Transceive(const std::uint8_t *data, int count, std::uint8_t *response) {
  return Exchange(data, count, response, false);
}

int CCmd::TransceiveClose(const std::uint8_t *data, int count, std::uint8_t *response) {
  return Exchange(data, count, response, true);
}

int CCmd::Exchange(const std::uint8_t *data, int count, std::uint8_t *response,
                   bool sendThroughNoise) {
  lastFailure = eventlog::Failure::kNone;
  portFailed = false;
  stopCut = false;
  // An R/W that does not stop sending fails the exchange, unsent, unless
  // the command is the last one it will hear.
  if (!DrainInput() && !sendThroughNoise) {
    return Failed(kExchangeBadFrame, eventlog::Failure::kBadFrame);
  }
  SendFrame(data, count);  // a frame not written shows up as a missing ACK
  int ack = ReceiveFrame(response, ackTimeoutMs);
  if (ack != kExchangeGotAck) return Failed(kExchangeNoAck, AckFailure(ack));
  int result = ReceiveFrame(response, responseTimeoutMs);
  if (result != kExchangeOk) lastFailure = ResponseFailure(result);
  return result;
}

eventlog::Failure CCmd::AckFailure(int result) const {
  if (portFailed) return eventlog::Failure::kPortError;
  if (stopCut) return eventlog::Failure::kStopped;
  if (result == kExchangeBadFrame) return eventlog::Failure::kBadChecksum;
  if (result == kExchangeOk) return eventlog::Failure::kBadFrame;  // data where the ACK belonged
  return eventlog::Failure::kNoAck;
}

eventlog::Failure CCmd::ResponseFailure(int result) const {
  if (portFailed) return eventlog::Failure::kPortError;
  if (stopCut) return eventlog::Failure::kStopped;
  if (result == kExchangeBadFrame) return eventlog::Failure::kBadChecksum;
  return eventlog::Failure::kNoResponse;  // none in time, or a second ACK
}
