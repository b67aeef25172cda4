#include <cstring>

#include "secure/des_cipher.h"
#include "secure/secure_messaging.h"
#include "sim/reader_model.h"

namespace sim {

namespace {

constexpr std::uint8_t kGetReaderId = 0x00;
constexpr std::uint8_t kVerifyReader = 0x02;
constexpr std::uint8_t kConfirmSessionKey = 0x04;
constexpr std::uint8_t kPoll = 0x8C;
constexpr std::uint8_t kClose = 0x06;
constexpr std::size_t kAuthCommandSize = 19;  // code, 00 00, identifier, block

struct Block {
  std::uint8_t bytes[8];
};

Block BlockAt(const Bytes &data, std::size_t offset) {
  Block b{};
  std::memcpy(b.bytes, data.data() + offset, 8);
  return b;
}

void Append(Bytes &out, const std::uint8_t *bytes, std::size_t count) {
  out.insert(out.end(), bytes, bytes + count);
}

}  // namespace

SecuredReader::SecuredReader(const SecuredReaderConfig &config) : config_(config) {}

bool SecuredReader::Classify(const Bytes &command, Target *target) const {
  if (command.empty()) return false;
  switch (command[0]) {
    case kGetReaderId: *target = Target::kConnect; return true;
    case kPoll: *target = Target::kPoll; return true;
    case kClose: *target = Target::kClose; return true;
    default: return false;
  }
}

// The R/W's side of the key-pair steps: E(Kb, D(Kt, E(Kb, x))) to answer,
// D(Ka, E(Kb, D(Ka, x))) to open the controller's blocks.
void SecuredReader::Protect(std::uint8_t *block) const {
  DesCipher des(config_.desEnabled ? 1 : 0, nullptr);
  std::uint8_t kt[8];
  std::memcpy(kt, config_.kb, 8);
  des.SetKey(config_.ka);
  des.EncryptBlock(kt, kt);
  des.SetKey(config_.kb);
  des.EncryptBlock(block, block);
  des.SetKey(kt);
  des.DecryptBlock(block, block);
  des.SetKey(config_.kb);
  des.EncryptBlock(block, block);
}

void SecuredReader::Unprotect(std::uint8_t *block) const {
  DesCipher des(config_.desEnabled ? 1 : 0, nullptr);
  des.SetKey(config_.ka);
  des.DecryptBlock(block, block);
  des.SetKey(config_.kb);
  des.EncryptBlock(block, block);
  des.SetKey(config_.ka);
  des.DecryptBlock(block, block);
}

std::optional<Bytes> SecuredReader::Answer(const Bytes &command, bool cardPresent,
                                           const FaultSet &faults) {
  if (command.empty()) return std::nullopt;
  switch (command[0]) {
    case kGetReaderId: {
      connectionFaults_ = faults;
      authenticated_ = false;
      Bytes answer{kGetReaderId + 1};
      Append(answer, config_.readerId, 8);
      return answer;
    }
    case kVerifyReader: return AnswerVerify(command);
    case kConfirmSessionKey: return AnswerConfirm(command);
    case kPoll:
    case kClose: return AnswerSealed(command, cardPresent, faults);
    default: return std::nullopt;
  }
}

std::optional<Bytes> SecuredReader::AnswerVerify(const Bytes &command) {
  if (command.size() < kAuthCommandSize) return std::nullopt;
  Block challenge = BlockAt(command, 11);
  Unprotect(challenge.bytes);
  Block a = challenge;
  Protect(a.bytes);
  if (connectionFaults_.Has(Fault::kWrongAuth)) a.bytes[7] ^= 0x01;
  Block b{};
  std::memcpy(b.bytes, config_.sessionKey, 8);
  Protect(b.bytes);
  Bytes answer{kVerifyReader + 1};
  Append(answer, a.bytes, 8);
  Append(answer, b.bytes, 8);
  return answer;
}

std::optional<Bytes> SecuredReader::AnswerConfirm(const Bytes &command) {
  if (command.size() < kAuthCommandSize) return std::nullopt;
  Block key = BlockAt(command, 11);
  Unprotect(key.bytes);
  authenticated_ = std::memcmp(key.bytes, config_.sessionKey, 8) == 0;
  return Bytes{kConfirmSessionKey + 1, static_cast<std::uint8_t>(authenticated_ ? 0x00 : 0x01)};
}

bool SecuredReader::Open(const Bytes &data, std::uint8_t *message) const {
  if (data.size() > 255) return false;
  std::memset(message, 0, 256);
  message[0] = static_cast<std::uint8_t>(data.size());
  std::memcpy(message + 1, data.data(), data.size());
  return !config_.desEnabled || secure::OpenMessage(config_.sessionKey, message);
}

std::optional<Bytes> SecuredReader::AnswerSealed(const Bytes &command, bool cardPresent,
                                                 const FaultSet &faults) {
  std::uint8_t message[256];
  if (!authenticated_ || !Open(command, message) || message[0] < 9) return std::nullopt;
  bool poll = command[0] == kPoll;
  auto counter = static_cast<std::uint16_t>(message[2] | (message[3] << 8));
  if (!faults.Has(Fault::kWrongCounter)) ++counter;
  std::uint8_t answer[256] = {};
  answer[1] = static_cast<std::uint8_t>(command[0] + 1);
  answer[2] = static_cast<std::uint8_t>(counter);
  answer[3] = static_cast<std::uint8_t>(counter >> 8);
  std::memcpy(answer + 4, message + 4, 6);
  int length = 9;
  if (poll && cardPresent) {
    answer[10] = 18;  // the card's answer: length, code 01h, identifier, parameters
    answer[11] = 0x01;
    std::memcpy(answer + 12, config_.cardId, 8);
    std::memcpy(answer + 20, config_.cardParameters, 8);
    length = 27;
  } else if (poll) {
    length = 10;  // card answer length 00h: no card
  }
  answer[0] = static_cast<std::uint8_t>(length);
  if (config_.desEnabled) {
    secure::SealMessage(config_.sessionKey, answer);
    if (faults.Has(Fault::kWrongMac)) answer[answer[0]] ^= 0x01;
  }
  if (!poll) authenticated_ = false;
  return Bytes(answer + 1, answer + 1 + answer[0]);
}

std::string SecuredReader::Describe(const Bytes &data, bool fromHost) const {
  if (data.empty()) return "empty";
  std::uint8_t code = fromHost ? data[0] : static_cast<std::uint8_t>(data[0] - 1);
  const char *name = code == kGetReaderId         ? "get reader id"
                     : code == kVerifyReader      ? "verify reader"
                     : code == kConfirmSessionKey ? "confirm session key"
                     : code == kPoll              ? "poll"
                     : code == kClose             ? "close"
                                                  : "unknown command";
  std::string text = std::string(name) + (fromHost ? "" : " answer");
  std::uint8_t message[256];
  if ((code == kPoll || code == kClose) && config_.desEnabled) {
    bool ok = Open(data, message);
    text += ok ? " | plain: " + HexText(Bytes(message + 1, message + 1 + message[0]))
               : " | does not open";
  }
  return text;
}

}  // namespace sim
