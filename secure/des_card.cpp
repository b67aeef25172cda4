#include "secure/des_card.h"

#include <cstdio>
#include <cstring>

#include "secure/des_cipher.h"
#include "secure/secure_messaging.h"

namespace {

constexpr int kAuthResponseTimeoutMs = 1000;
constexpr int kAuthAckTimeoutMs = 500;
constexpr int kCloseTimeoutMs = 500;
constexpr int kWrongAnswer = 255;
constexpr std::uint8_t kGetReaderIdCode = 0x00;
constexpr std::uint8_t kVerifyReaderCode = 0x02;
constexpr std::uint8_t kConfirmSessionKeyCode = 0x04;
constexpr std::uint8_t kPollCode = 0x8C;
constexpr std::uint8_t kCloseCode = 0x06;
// The last response positions that the counter check and a card answer read.
constexpr int kCounterEnd = 3;
constexpr int kCardAnswerLengthAt = 10;
constexpr int kCardAnswerEnd = 27;
// The controller's challenge is the same in every session.
constexpr std::uint8_t kChallenge[8] = {};

// Two-key Triple-DES encryption: E(Ka, D(Kb, E(Ka, block))).
void EncryptWithKeyPair(DesCipher &des, const std::uint8_t *ka, const std::uint8_t *kb,
                        std::uint8_t *block) {
  des.SetKey(ka);
  des.EncryptBlock(block, block);
  des.SetKey(kb);
  des.DecryptBlock(block, block);
  des.SetKey(ka);
  des.EncryptBlock(block, block);
}

// Opens an authentication answer: D(Kb, E(Kt, D(Kb, block))).
void OpenWithKeyPair(DesCipher &des, const std::uint8_t *kb, const std::uint8_t *kt,
                     std::uint8_t *block) {
  des.SetKey(kb);
  des.DecryptBlock(block, block);
  des.SetKey(kt);
  des.EncryptBlock(block, block);
  des.SetKey(kb);
  des.DecryptBlock(block, block);
}

// An authentication command: code, two zero bytes, the R/W's identifier and
// one 8-byte block.
void BuildAuthCommand(std::uint8_t code, const std::uint8_t *readerId, const std::uint8_t *block,
                      std::uint8_t *command) {
  command[0] = 0x13;
  command[1] = code;
  command[2] = 0x00;
  command[3] = 0x00;
  std::memcpy(command + 4, readerId, 8);
  std::memcpy(command + 12, block, 8);
}

}  // namespace

namespace secure {

CDesCard::CDesCard(const char *portPath, std::int32_t baudRate, std::uint8_t byteSize,
                   std::uint8_t parity, std::uint8_t stopBits, std::int32_t responseTimeoutMs,
                   std::int32_t ackTimeoutMs, std::int32_t queueSize)
    : CCmd(portPath, baudRate, byteSize, parity, stopBits, responseTimeoutMs, ackTimeoutMs,
           queueSize),
      CardId{},
      CardParameters{},
      TransactionId{},
      SessionKey{},
      plainMode(false) {}

CDesCard::~CDesCard() = default;

int CDesCard::Exchange(const std::uint8_t *command, std::uint8_t *response) {
  ScopedTimeouts timeouts(*this, kAuthResponseTimeoutMs, kAuthAckTimeoutMs);
  return CCmd::Transceive(command, response);
}

int CDesCard::Authenticate(const std::uint8_t *ka, const std::uint8_t *kb) {
  std::uint8_t readerId[8] = {};
  int result = LogStep("get reader id", GetReaderId(readerId));
  if (result != 0) return result;
  std::uint8_t key[8] = {};
  result = LogStep("verify reader", VerifyReader(readerId, key, ka, kb));
  if (result != 0) return result;
  return LogStep("confirm session key", ConfirmSessionKey(readerId, key, ka, kb));
}

int CDesCard::LogStep(const char *step, int result) const {
  if (eventlog::Log *log = EventLog()) {
    log->Write(eventlog::Event("auth")
                   .Text("step", step)
                   .Flag("des", !plainMode)
                   .Int("result", result)
                   .Text("failure", eventlog::FailureName(LastFailure())));
  }
  return result;
}

int CDesCard::GetReaderId(std::uint8_t *readerIdOut) {
  const std::uint8_t command[4] = {0x03, kGetReaderIdCode, 0x00, 0x00};
  std::uint8_t response[256] = {};
  int result = Exchange(command, response);
  if (result != 0) return result;
  // An answer too short to hold the identifier is a wrong answer.
  if (response[1] != kGetReaderIdCode + 1)
    return Failed(kWrongAnswer, eventlog::Failure::kWrongAnswerCode);
  if (response[0] < 9) return Failed(kWrongAnswer, eventlog::Failure::kWrongAnswer);
  std::memcpy(readerIdOut, response + 2, 8);
  return 0;
}

int CDesCard::VerifyReader(const std::uint8_t *readerId, std::uint8_t *keyOut,
                           const std::uint8_t *ka, const std::uint8_t *kb) {
  DesCipher des(plainMode ? 0 : 1, nullptr);
  std::uint8_t kt[8];
  std::memcpy(kt, kb, 8);
  des.SetKey(ka);
  des.EncryptBlock(kt, kt);
  std::memcpy(TransactionId, kChallenge, 8);
  std::uint8_t m1[8];
  std::memcpy(m1, kChallenge, 8);
  EncryptWithKeyPair(des, ka, kb, m1);
  std::uint8_t command[256] = {};
  std::uint8_t response[256] = {};
  BuildAuthCommand(kVerifyReaderCode, readerId, m1, command);
  int result = Exchange(command, response);
  if (result != 0) return result;
  if (response[1] != kVerifyReaderCode + 1)
    return Failed(kWrongAnswer, eventlog::Failure::kWrongAnswerCode);
  if (response[0] < 17) return Failed(kWrongAnswer, eventlog::Failure::kWrongAnswer);
  std::uint8_t answer[8];
  std::memcpy(answer, response + 2, 8);
  OpenWithKeyPair(des, kb, kt, answer);
  // The R/W did not prove it holds the same keys (or the same DES setting).
  if (std::memcmp(answer, TransactionId, 8) != 0)
    return Failed(kWrongAnswer, eventlog::Failure::kBadMac);
  std::memcpy(keyOut, response + 10, 8);
  OpenWithKeyPair(des, kb, kt, keyOut);
  std::memcpy(SessionKey, keyOut, 8);
  return 0;
}

int CDesCard::ConfirmSessionKey(const std::uint8_t *readerId, std::uint8_t *sessionKey,
                                const std::uint8_t *ka, const std::uint8_t *kb) {
  DesCipher des(plainMode ? 0 : 1, nullptr);
  EncryptWithKeyPair(des, ka, kb, sessionKey);
  std::uint8_t command[256] = {};
  std::uint8_t response[256] = {};
  BuildAuthCommand(kConfirmSessionKeyCode, readerId, sessionKey, command);
  int result = Exchange(command, response);
  if (result != 0) return result;
  if (response[1] != kConfirmSessionKeyCode + 1)
    return Failed(kWrongAnswer, eventlog::Failure::kWrongAnswerCode);
  // A non-zero status: the R/W refuses the session key it was sent back.
  if (response[0] < 2 || response[2] != 0x00)
    return Failed(kWrongAnswer, eventlog::Failure::kWrongAnswer);
  return 0;
}

void CDesCard::SealCommand(const std::uint8_t *key, std::uint8_t *command) {
  if (!plainMode) secure::SealMessage(key, command);
}

int CDesCard::OpenedLength(const std::uint8_t *response) const {
  if (plainMode) return response[0];
  // The code byte, then the whole blocks before the MAC block.
  int blocks = (response[0] - 1) / secure::kBlockSize;
  return blocks > 0 ? secure::kBlockSize * (blocks - 1) + 1 : 0;
}

std::uint8_t *CDesCard::OpenResponse(const std::uint8_t *key, std::uint8_t *response) {
  if (plainMode) return response;
  return secure::OpenMessage(key, response) ? response : nullptr;
}

int CDesCard::CheckTransactionId(const std::uint8_t *counterBytes) {
  auto counter = static_cast<std::uint16_t>(TransactionId[0] | (TransactionId[1] << 8));
  ++counter;
  TransactionId[0] = static_cast<std::uint8_t>(counter);
  TransactionId[1] = static_cast<std::uint8_t>(counter >> 8);
  if (TransactionId[0] == counterBytes[0] && TransactionId[1] == counterBytes[1]) return 1;
  std::fprintf(stderr, "IDt Error!!\n");
  std::fprintf(stderr, "Now IDtr(Controller): %02x %02x Get IDtr(R/W):%02x %02x\n",
               TransactionId[0], TransactionId[1], counterBytes[0], counterBytes[1]);
  std::fprintf(stderr, "Sn:%04x\n", counter);
  return 0;
}

void CDesCard::AdvanceCounterForCommand() {
  // Each step compares the counter with itself, so it always matches.
  CheckTransactionId(TransactionId);
  CheckTransactionId(TransactionId);
}

int CDesCard::PollCard(std::uint8_t timeSlot, std::uint8_t *) {
  std::uint8_t command[256] = {};
  std::uint8_t response[256] = {};
  AdvanceCounterForCommand();
  auto timeField =
      static_cast<std::uint16_t>(static_cast<std::uint32_t>(GetResponseTimeout()) * 10u);
  const std::uint8_t header[] = {0x13, kPollCode};
  const std::uint8_t tail[] = {static_cast<std::uint8_t>(timeField >> 8),
                               static_cast<std::uint8_t>(timeField),
                               0x00,
                               0x01,
                               0x06,
                               0x00,
                               0xFF,
                               0xFF,
                               0x00,
                               timeSlot};
  std::memcpy(command, header, sizeof header);
  std::memcpy(command + 2, TransactionId, 8);
  std::memcpy(command + 10, tail, sizeof tail);
  SealCommand(SessionKey, command);
  int result = CCmd::Transceive(command, response);
  if (result != 0) return result;
  if (response[1] != kPollCode + 1)
    return Failed(kWrongAnswer, eventlog::Failure::kWrongAnswerCode);
  if (!OpenResponse(SessionKey, response)) return Failed(kWrongAnswer, eventlog::Failure::kBadMac);
  int length = OpenedLength(response);
  // Nothing is read past what arrived.
  if (length < kCounterEnd) return Failed(kWrongAnswer, eventlog::Failure::kWrongAnswer);
  if (!CheckTransactionId(response + 2)) {
    std::printf("IDTR Error");
    return Failed(kWrongAnswer, eventlog::Failure::kCounterMismatch);
  }
  // A plain answer that ends before the card answer's length byte reads as
  // no card: the R/W's short form. A sealed one has no such form.
  if (length < kCardAnswerLengthAt && !plainMode)
    return Failed(kWrongAnswer, eventlog::Failure::kWrongAnswer);
  if (response[10] == 0x00) return Failed(2, eventlog::Failure::kNoCard);  // no card answered
  // A card answer cut short is no card identifier: not a card.
  if (response[11] != 0x01 || length < kCardAnswerEnd) {
    return Failed(kWrongAnswer, eventlog::Failure::kWrongAnswer);
  }
  std::memcpy(CardId, response + 12, 8);
  std::memcpy(CardParameters, response + 20, 8);
  return 0;
}

int CDesCard::CloseSession() {
  AdvanceCounterForCommand();
  ScopedTimeouts timeouts(*this, kCloseTimeoutMs, kCloseTimeoutMs);
  std::uint8_t command[256] = {};
  std::uint8_t response[256] = {};
  command[0] = 0x09;
  command[1] = kCloseCode;
  std::memcpy(command + 2, TransactionId, 8);
  SealCommand(SessionKey, command);
  int result = CCmd::TransceiveClose(command + 1, command[0], response);
  if (result != 0) return result;
  if (response[1] != kCloseCode + 1 || !OpenResponse(SessionKey, response) ||
      OpenedLength(response) < kCounterEnd || !CheckTransactionId(response + 2)) {
    return kWrongAnswer;
  }
  return 0;
}

}  // namespace secure
