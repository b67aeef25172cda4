// The command set of a simulated R/W.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "sim/frame_parser.h"
#include "sim/schedule.h"

namespace sim {

class ReaderModel {
 public:
  virtual ~ReaderModel() = default;
  // Which fault counter a command advances; false for other commands.
  virtual bool Classify(const Bytes &command, Target *target) const = 0;
  // The response data to a command, or nothing when the R/W stays silent
  // after its ACK. `cardPresent` matters only for polls.
  virtual std::optional<Bytes> Answer(const Bytes &command, bool cardPresent,
                                      const FaultSet &faults) = 0;
  // A short decoding of a frame's data for the trace.
  virtual std::string Describe(const Bytes &data, bool fromHost) const = 0;
};

// The plain R/W: open 62h, close 54h, pass-through polling 5Ch.
class PlainReader : public ReaderModel {
 public:
  PlainReader(const std::uint8_t *cardId, const std::uint8_t *cardParameters);
  bool Classify(const Bytes &command, Target *target) const override;
  std::optional<Bytes> Answer(const Bytes &command, bool cardPresent,
                              const FaultSet &faults) override;
  std::string Describe(const Bytes &data, bool fromHost) const override;

 private:
  Bytes cardId_;
  Bytes cardParameters_;
};

struct SecuredReaderConfig {
  bool desEnabled;
  std::uint8_t ka[8];
  std::uint8_t kb[8];
  std::uint8_t readerId[8];
  std::uint8_t sessionKey[8];
  std::uint8_t cardId[8];
  std::uint8_t cardParameters[8];
};

// The secured R/W: mutual authentication (00h, 02h, 04h), then sealed
// polling (8Ch) and close (06h) commands whose answers carry the command's
// transaction counter plus one. With DES off the same exchanges run in clear.
class SecuredReader : public ReaderModel {
 public:
  explicit SecuredReader(const SecuredReaderConfig &config);
  bool Classify(const Bytes &command, Target *target) const override;
  std::optional<Bytes> Answer(const Bytes &command, bool cardPresent,
                              const FaultSet &faults) override;
  std::string Describe(const Bytes &data, bool fromHost) const override;

 private:
  void Protect(std::uint8_t *block) const;
  void Unprotect(std::uint8_t *block) const;
  bool Open(const Bytes &data, std::uint8_t *message) const;
  std::optional<Bytes> AnswerVerify(const Bytes &command);
  std::optional<Bytes> AnswerConfirm(const Bytes &command);
  std::optional<Bytes> AnswerSealed(const Bytes &command, bool cardPresent, const FaultSet &faults);

  SecuredReaderConfig config_;
  FaultSet connectionFaults_;
  bool authenticated_ = false;
};

}  // namespace sim
