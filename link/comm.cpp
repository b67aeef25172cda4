#include "link/comm.h"

char kReaderOpenErrorText[] = "ReaderWriter Open Error !! ";

CTimer::CTimer() : startTime(platform::ReadClock()) {}

CTimer::~CTimer() = default;

void CTimer::Start() { startTime = platform::ReadClock(); }

std::int32_t CTimer::ElapsedBetween(const platform::ClockReading &start,
                                    const platform::ClockReading &now) {
  auto seconds = static_cast<std::uint32_t>(now.seconds - start.seconds);
  std::int32_t milliseconds;
  if (start.milliseconds > now.milliseconds) {
    milliseconds = now.milliseconds - start.milliseconds + 1000;
    seconds -= 1;
  } else {
    milliseconds = now.milliseconds - start.milliseconds;
  }
  return static_cast<std::int32_t>(seconds * 1000u + static_cast<std::uint32_t>(milliseconds));
}

bool CTimer::IsElapsed(int limitMs) const {
  return ElapsedBetween(startTime, platform::ReadClock()) >= limitMs;
}

CComm::CComm(const char *portPath, std::int32_t baudRate, std::uint8_t byteSize,
             std::uint8_t parity, std::uint8_t stopBits, std::int32_t queueSize)
    : portHandle(nullptr), savedTimeouts{} {
  if (!Open(portPath, baudRate, byteSize, parity, stopBits, queueSize, queueSize)) {
    throw static_cast<char *>(kReaderOpenErrorText);
  }
}

CComm::~CComm() {
  if (portHandle) Close();
}

bool CComm::Open(const char *portPath, std::int32_t baudRate, std::uint8_t byteSize,
                 std::uint8_t parity, std::uint8_t stopBits, std::int32_t inputQueueSize,
                 std::int32_t outputQueueSize) {
  if (portHandle) return false;
  portHandle = platform::OpenPort(portPath);
  if (!portHandle) return false;
  bool ok = platform::SetupQueues(portHandle, static_cast<std::uint32_t>(inputQueueSize),
                                  static_cast<std::uint32_t>(outputQueueSize));
  ok = ok && platform::SetEventMask(portHandle, platform::kEvRxChar);
  ok = ok && platform::PurgePort(portHandle, kPurgeAll);
  if (!ok) {
    CloseSteps(false);  // nothing saved yet to write back
    return false;
  }
  platform::GetTimeouts(portHandle, &savedTimeouts);
  ok = platform::SetTimeouts(portHandle, kWorkingTimeouts);
  if (ok) {
    platform::LineState line{};
    line.length = 28;
    platform::GetLineState(portHandle, &line);
    line.flags &= ~kFlowControlBits;
    line.baudRate = static_cast<std::uint32_t>(baudRate);
    line.byteSize = byteSize;
    line.parity = parity;
    line.stopBits = stopBits;
    ok = platform::SetLineState(portHandle, line);
  }
  if (!ok) Close();
  return ok;
}

bool CComm::Close() {
  if (!portHandle) return false;
  return CloseSteps(true);
}

bool CComm::CloseSteps(bool restoreTimeouts) {
  platform::SetEventMask(portHandle, 0);
  platform::PurgePort(portHandle, kPurgeAll);
  if (restoreTimeouts) platform::SetTimeouts(portHandle, savedTimeouts);
  bool closed = platform::ClosePort(portHandle);
  portHandle = nullptr;
  return closed;
}
