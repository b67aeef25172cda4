// brimlet's reader session: a plain R/W that takes its commands as frame
// data, with no authentication and no encryption.
#pragma once

#include <cstdint>

#include "link/cmd.h"

namespace plain {

class CDesCard : public CCmd {
 public:
  using CCmd::CCmd;
  ~CDesCard() override;

  // Opens the R/W (62h 21h 25h F0h). 0 success, 255 wrong answer, else the
  // exchange result.
  int OpenReader();
  // Closes the R/W (54h); results as OpenReader.
  int CloseReader();
  // Passes the card polling command through to the card. 0 a card answered
  // and its identifier is in cardIdOut[0..7]; 255 a short or wrong answer;
  // else the exchange result.
  int PollCard(std::uint8_t timeSlot, std::uint8_t *cardIdOut);

 private:
  // `closing`: the close command, sent even to an R/W that keeps sending.
  int SimpleCommand(const std::uint8_t *command, int count, int pauseMs, bool closing = false);
};

}  // namespace plain
