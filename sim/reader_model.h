// The command set of a simulated R/W.
#pragma once

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

std::string HexText(const Bytes &bytes);

}  // namespace sim
