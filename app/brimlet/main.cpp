// brimlet: polls a plain R/W for a card and measures how often one is found.
#include <cstdint>

#include "app/brimlet/connect.h"
#include "app/brimlet/texts.h"
#include "poll/polling_loop.h"
#include "poll/startup.h"

int main(int argc, char **argv) {
  RunSettings settings;
  std::uint8_t cardIdOut[16] = {};
  if (!StartTool(argc, argv, settings, kBrimletTexts)) return 0;
  CDesCard *slot = nullptr;
  // One connection, whatever port option was given; a failure is silent.
  if (!ConnectReader(slot, settings.reader, false)) {
    delete slot;  // without the close command
    return 0;
  }
  SlotBinding<CDesCard> reader(slot, settings.reader, ConnectReader, &CDesCard::CloseReader);
  // A result file that could not be written is the one failure the exit
  // status reports: its records are lost.
  return RunPollingLoop(reader, settings.poll, cardIdOut, ConsoleLoopHooks()) ? 0 : 1;
}
