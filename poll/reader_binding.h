// Binds a tool's session slot and reader commands to the polling loop.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "link/event_log.h"
#include "poll/connection.h"
#include "poll/settings.h"

// What one polling attempt came to, as the polling loop counts and marks
// it.
enum class PollOutcome {
  kCard,    // a card answered: "o"
  kNoCard,  // no card answered, or no response in time: "."
  kFailed,  // any other failure of the command or the link: "X"
};

struct PollResult {
  PollOutcome outcome;
  int code;  // the poll command's own result, for the event log
};

// The reader commands keep their integer results (0 a card, 2 no card,
// anything else a failure); this is where a poll's result becomes an
// outcome.
constexpr PollResult PollResultOf(int code) {
  return {code == 0   ? PollOutcome::kCard
          : code == 2 ? PollOutcome::kNoCard
                      : PollOutcome::kFailed,
          code};
}

// What the polling loop needs of a tool: the slot's session, its poll and
// close commands, and the tool's connect routine for reconnections.
class ReaderBinding {
 public:
  virtual ~ReaderBinding() = default;
  virtual bool HasSession() const = 0;
  virtual PollResult Poll(std::uint8_t timeSlot, std::uint8_t *cardIdOut) = 0;
  // Why the last poll failed (kNone after a card).
  virtual eventlog::Failure LastFailure() const = 0;
  // The device of the port, for messages.
  virtual std::string DeviceName() const = 0;
  // Returns the close command's result.
  virtual int SendClose() = 0;
  // Closes the old session, then connects anew with the same settings.
  virtual bool Reconnect() = 0;
  // Why the last connection failed, in one line (as after a failed first
  // connection).
  virtual std::string ConnectionFailure() const = 0;
  // Destroys the session (closing its port) without the close command.
  virtual void DestroySession() = 0;
};

// A tool's session slot, owned by its entry point: the one live reader
// session, or nothing. Emptying it destroys the session, which closes its
// port.
template <class Session>
using SessionSlot = std::unique_ptr<Session>;

template <class Session>
class SlotBinding : public ReaderBinding {
 public:
  using ConnectFn = bool (*)(SessionSlot<Session> &slot, ReaderSettings settings, bool closeFirst,
                             ConnectionNotes &notes);
  using CloseFn = int (Session::*)();

  SlotBinding(SessionSlot<Session> &slot, const ReaderSettings &settings, ConnectFn connect,
              CloseFn close, ConnectionNotes &notes)
      : slot_(slot), settings_(settings), connect_(connect), close_(close), notes_(notes) {}

  bool HasSession() const override { return slot_ != nullptr; }
  PollResult Poll(std::uint8_t timeSlot, std::uint8_t *cardIdOut) override {
    return PollResultOf(slot_->PollCard(timeSlot, cardIdOut));
  }
  eventlog::Failure LastFailure() const override {
    return slot_ ? slot_->LastFailure() : eventlog::Failure::kNone;
  }
  std::string DeviceName() const override { return DeviceNameOf(settings_.portPath); }
  int SendClose() override { return ((*slot_).*close_)(); }
  bool Reconnect() override { return connect_(slot_, settings_, true, notes_); }
  std::string ConnectionFailure() const override {
    return DescribeConnectionFailure(notes_.Last());
  }
  void DestroySession() override { slot_.reset(); }

 private:
  SessionSlot<Session> &slot_;
  const ReaderSettings &settings_;
  ConnectFn connect_;
  CloseFn close_;
  ConnectionNotes &notes_;
};

// The first steps of every connect routine: send the close command to the
// old session if asked, destroy it, and open a new one on the settings'
// port, logging to the notes' event log. Returns false, with the slot
// empty, when the port cannot be opened.
//
// A reader's constructor throws its open-error text (a char *) when the
// port cannot be opened. This is the one place that catches it: above it
// the failure is this false result and the notes' reason, never an
// exception.
template <class Session>
bool ReplaceSession(SessionSlot<Session> &slot, const ReaderSettings &settings, bool closeFirst,
                    int (Session::*close)(), ConnectionNotes &notes) {
  constexpr std::uint8_t kByteSize = 8;
  constexpr std::uint8_t kNoParity = 0;
  constexpr std::uint8_t kOneStopBit = 0;
  constexpr std::int32_t kQueueSize = 1024;
  if (closeFirst && slot) ((*slot).*close)();
  slot.reset();  // the old port is closed before the new one opens
  try {
    slot = std::make_unique<Session>(settings.portPath, settings.baudRate, kByteSize, kNoParity,
                                     kOneStopBit, settings.responseTimeoutMs, settings.ackTimeoutMs,
                                     kQueueSize);
  } catch (char *) {
    notes.PortOpen(settings, false);  // the reason goes to the log, not the console
    return false;
  }
  slot->SetEventLog(notes.Log());
  notes.PortOpen(settings, true);
  return true;
}
