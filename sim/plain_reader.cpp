#include "sim/reader_model.h"

namespace sim {

namespace {

constexpr std::uint8_t kOpen = 0x62;
constexpr std::uint8_t kClose = 0x54;
constexpr std::uint8_t kPassThrough = 0x5C;
constexpr std::uint8_t kCardAnswerLength = 18;  // length byte, code, identifier, parameters

}  // namespace

PlainReader::PlainReader(const std::uint8_t *cardId, const std::uint8_t *cardParameters)
    : cardId_(cardId, cardId + 8), cardParameters_(cardParameters, cardParameters + 8) {}

bool PlainReader::Classify(const Bytes &command, Target *target) const {
  if (command.empty()) return false;
  switch (command[0]) {
    case kOpen: *target = Target::kConnect; return true;
    case kClose: *target = Target::kClose; return true;
    case kPassThrough: *target = Target::kPoll; return true;
    default: return false;
  }
}

std::optional<Bytes> PlainReader::Answer(const Bytes &command, bool cardPresent, const FaultSet &) {
  if (command.empty()) return std::nullopt;
  switch (command[0]) {
    case kOpen: return Bytes{kOpen + 1, 0x00};
    case kClose: return Bytes{kClose + 1, 0x00};
    case kPassThrough: {
      // No card in the field: the card never answers, and neither does the R/W.
      if (!cardPresent || command.size() < 3 || command[2] != 0x00) return std::nullopt;
      Bytes answer{kPassThrough + 1, kCardAnswerLength, 0x01};
      answer.insert(answer.end(), cardId_.begin(), cardId_.end());
      answer.insert(answer.end(), cardParameters_.begin(), cardParameters_.end());
      return answer;
    }
    default: return std::nullopt;
  }
}

std::string PlainReader::Describe(const Bytes &data, bool fromHost) const {
  if (data.empty()) return "empty";
  std::uint8_t code = fromHost ? data[0] : static_cast<std::uint8_t>(data[0] - 1);
  const char *name = code == kOpen          ? "open"
                     : code == kClose       ? "close"
                     : code == kPassThrough ? "poll"
                                            : "unknown command";
  return std::string(name) + (fromHost ? "" : " answer");
}

}  // namespace sim
