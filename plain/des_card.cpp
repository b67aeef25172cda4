#include "plain/des_card.h"

#include <cstring>

namespace {

constexpr std::uint8_t kOpenCommand[] = {0x62, 0x21, 0x25, 0xF0};
constexpr std::uint8_t kCloseCommand[] = {0x54};
constexpr std::uint8_t kPassThroughCode = 0x5C;
constexpr int kOpenPauseMs = 40;
constexpr int kClosePauseMs = 10;
constexpr int kCommandResponseTimeoutMs = 1000;
constexpr int kCommandAckTimeoutMs = 500;
constexpr int kMinPollAnswer = 19;
constexpr int kMinCardAnswer = 18;

}  // namespace

namespace plain {

CDesCard::~CDesCard() = default;

int CDesCard::SimpleCommand(const std::uint8_t *command, int count, int pauseMs, bool closing) {
  ScopedTimeouts timeouts(*this, kCommandResponseTimeoutMs, kCommandAckTimeoutMs);
  std::uint8_t response[256] = {};
  int result = closing ? CCmd::TransceiveClose(command, count, response)
                       : CCmd::Transceive(command, count, response);
  if (result != kExchangeOk) return result;
  if (response[1] != command[0] + 1) return Failed(255, eventlog::Failure::kWrongAnswerCode);
  if (response[0] != 2) return Failed(255, eventlog::Failure::kWrongAnswer);
  platform::Sleep(pauseMs);
  return 0;
}

int CDesCard::OpenReader() {
  int result = SimpleCommand(kOpenCommand, sizeof kOpenCommand, kOpenPauseMs);
  if (eventlog::Log *log = EventLog()) {
    log->Write(eventlog::Event("auth")
                   .Text("step", "open reader")
                   .Int("result", result)
                   .Text("failure", eventlog::FailureName(LastFailure())));
  }
  return result;
}

int CDesCard::CloseReader() {
  return SimpleCommand(kCloseCommand, sizeof kCloseCommand, kClosePauseMs, true);
}

int CDesCard::PollCard(std::uint8_t timeSlot, std::uint8_t *cardIdOut) {
  const std::uint8_t command[] = {kPassThroughCode, 0x06, 0x00, 0xFF, 0xFF, 0x00, timeSlot};
  std::uint8_t response[256] = {};
  int result = CCmd::Transceive(command, sizeof command, response);
  // The plain R/W acknowledges the poll and stays silent when no card
  // answers; an R/W that stopped answering looks the same.
  if (result == kExchangeTimeout && LastFailure() == eventlog::Failure::kNoResponse) {
    return Failed(result, eventlog::Failure::kNoCardOrNoAnswer);
  }
  if (result != kExchangeOk) return result;
  if (response[1] != kPassThroughCode + 1) return Failed(255, eventlog::Failure::kWrongAnswerCode);
  if (response[0] < kMinPollAnswer || response[2] < kMinCardAnswer || response[3] != 0x01) {
    return Failed(255, eventlog::Failure::kWrongAnswer);
  }
  std::memcpy(cardIdOut, response + 4, 8);
  return 0;
}

}  // namespace plain
