// Byte transfers, frames and the command exchange (command, ACK, response)
// on top of the serial port.
#pragma once

#include <cstdint>
#include <vector>

#include "link/comm.h"
#include "link/event_log.h"
#include "link/frame.h"

class CCmd : public CComm {
 public:
  // Opens the port (or throws, as CComm does). The response time-out comes
  // before the ACK time-out.
  CCmd(const char *portPath, std::int32_t baudRate, std::uint8_t byteSize, std::uint8_t parity,
       std::uint8_t stopBits, std::int32_t responseTimeoutMs, std::int32_t ackTimeoutMs,
       std::int32_t queueSize);
  ~CCmd() override;

  // Reads a frame into `out` (byte 0 the length, then the data).
  virtual int ReceiveFrame(std::uint8_t *out, int timeoutMs);
  // Sends the command whose byte 0 is its data length.
  virtual bool SendFrame(const std::uint8_t *cmd);
  // Drains input, sends `cmd` (byte 0 its data length), waits for the ACK
  // and then the response. Returns an ExchangeResult.
  virtual int Transceive(const std::uint8_t *cmd, std::uint8_t *response);

  // The pointer-and-count form: the data bytes and their count (only its
  // low 8 bits are used).
  virtual bool SendFrame(const std::uint8_t *data, int count);
  virtual int Transceive(const std::uint8_t *data, int count, std::uint8_t *response);
  // The close command's exchange: as Transceive, but the command goes out
  // after the bounded drain even when the input did not fall quiet (a
  // babbling R/W): it is the last the R/W hears, and it may still take it.
  int TransceiveClose(const std::uint8_t *data, int count, std::uint8_t *response);

  // Why the last exchange (or the reader command around it) failed; kNone
  // after a success. For the event log and the failure messages only: the
  // result codes stay what they are.
  eventlog::Failure LastFailure() const { return lastFailure; }

  // Where the frames (and the reader commands' steps) are logged: the
  // owner's event log, or nullptr for none. With none the cost is one test
  // of the pointer per frame.
  void SetEventLog(eventlog::Log *log) { eventLog = log; }
  eventlog::Log *EventLog() const { return eventLog; }

  int GetAckTimeout() const { return ackTimeoutMs; }
  void SetAckTimeout(int value) { ackTimeoutMs = value; }
  int GetResponseTimeout() const { return responseTimeoutMs; }
  void SetResponseTimeout(int value) { responseTimeoutMs = value; }

  // Reads exactly `count` bytes; the time-out restarts with every byte, and
  // 0 means no limit.
  bool ReadBytes(std::uint8_t *buffer, int count, std::uint32_t &received, int timeoutMs);
  bool WriteBytes(const std::uint8_t *buffer, int count, std::uint32_t &written, int timeoutMs);
  // Throws away whatever input is waiting. Returns false, with the input
  // left unread, when it does not fall quiet within a few KiB or a few
  // hundred milliseconds. A stop request ends it at once.
  bool DrainInput();

 protected:
  // Records why a reader command failed and returns its result.
  int Failed(int result, eventlog::Failure failure) {
    lastFailure = failure;
    return result;
  }

  std::int32_t ackTimeoutMs;
  std::int32_t responseTimeoutMs;

 private:
  int Exchange(const std::uint8_t *data, int count, std::uint8_t *response, bool sendThroughNoise);
  int ReadFrame(std::uint8_t *out, int timeoutMs);
  bool ReadOne(std::uint8_t *byte, std::uint32_t *got);
  // A transfer that gave way to a stop request: fails, and says why.
  bool CutByStop() {
    stopCut = true;
    return false;
  }
  void NoteReceived(const std::uint8_t *bytes, std::uint32_t count);
  eventlog::Failure AckFailure(int result) const;
  eventlog::Failure ResponseFailure(int result) const;

  eventlog::Failure lastFailure = eventlog::Failure::kNone;
  eventlog::Log *eventLog = nullptr;
  bool portFailed = false;          // a read or write of this exchange failed
  bool stopCut = false;             // a stop request cut a wait of this exchange short
  std::vector<std::uint8_t> rxLog;  // the bytes of the frame being read, when logging
};

// Saves both frame time-outs, sets those of one command, and puts the saved
// ones back when it goes out of scope, on every path.
class ScopedTimeouts {
 public:
  ScopedTimeouts(CCmd &cmd, int responseTimeoutMs, int ackTimeoutMs)
      : cmd_(cmd), savedResponse_(cmd.GetResponseTimeout()), savedAck_(cmd.GetAckTimeout()) {
    cmd.SetResponseTimeout(responseTimeoutMs);
    cmd.SetAckTimeout(ackTimeoutMs);
  }
  ~ScopedTimeouts() {
    cmd_.SetResponseTimeout(savedResponse_);
    cmd_.SetAckTimeout(savedAck_);
  }
  ScopedTimeouts(const ScopedTimeouts &) = delete;
  ScopedTimeouts &operator=(const ScopedTimeouts &) = delete;

 private:
  CCmd &cmd_;
  int savedResponse_;
  int savedAck_;
};
