// The serial port of a reader and the millisecond stopwatch of its transfers.
#pragma once

#include <cstdint>

#include "platform/platform.h"

// Thrown (as char *) by the reader constructors when the port cannot be
// opened or configured.
extern char kReaderOpenErrorText[];

// A millisecond stopwatch. Elapsed time is computed from whole seconds and
// the milliseconds within them, as the clock reports them.
class CTimer {
 public:
  CTimer();
  virtual ~CTimer();
  void Start();
  bool IsElapsed(int limitMs) const;
  // The elapsed milliseconds between two clock readings.
  static std::int32_t ElapsedBetween(const platform::ClockReading &start,
                                     const platform::ClockReading &now);

 private:
  platform::ClockReading startTime;
};

// Owns one open serial port, configured at construction; closing puts back
// the time-outs (and line settings) the port had before.
class CComm {
 public:
  // Throws kReaderOpenErrorText (as char *) when the port cannot be opened.
  CComm(const char *portPath, std::int32_t baudRate, std::uint8_t byteSize, std::uint8_t parity,
        std::uint8_t stopBits, std::int32_t queueSize);
  virtual ~CComm();
  CComm(const CComm &) = delete;
  CComm &operator=(const CComm &) = delete;

  bool Open(const char *portPath, std::int32_t baudRate, std::uint8_t byteSize, std::uint8_t parity,
            std::uint8_t stopBits, std::int32_t inputQueueSize, std::int32_t outputQueueSize);
  bool Close();

 protected:
  platform::PortHandle portHandle;
  platform::CommTimeouts savedTimeouts;

 private:
  bool CloseSteps(bool restoreTimeouts);
};

// The port's driver time-outs while working and while draining input.
constexpr platform::CommTimeouts kWorkingTimeouts{platform::kMaxDword, 0, 100, 0, 1000};
constexpr platform::CommTimeouts kDrainTimeouts{platform::kMaxDword, 0, 10, 0, 10};
// A read on Windows cannot be cut short: its total bounds how late a stop is
// seen.
static_assert(kWorkingTimeouts.readTotalConstant <= 100 && kDrainTimeouts.readTotalConstant <= 100,
              "a stop must end a read within 100 ms");
constexpr std::uint32_t kPurgeAll = platform::kPurgeTxAbort | platform::kPurgeRxAbort |
                                    platform::kPurgeTxClear | platform::kPurgeRxClear;
// Flow-control bits cleared in the line record: CTS and DSR output flow,
// DTR control, XON/XOFF both ways, RTS control.
constexpr std::uint32_t kFlowControlBits =
    platform::kLineOutxCtsFlow | platform::kLineOutxDsrFlow |
    platform::kLineControlField << platform::kLineDtrControlShift | platform::kLineOutX |
    platform::kLineInX | platform::kLineControlField << platform::kLineRtsControlShift;
static_assert(kFlowControlBits == 0x333Cu, "the flow-control bits of the Windows line record");
