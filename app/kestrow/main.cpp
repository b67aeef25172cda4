// kestrow: polls a Triple-DES secured R/W for a card and measures how often
// one is found.
#include <cstdint>
#include <cstdio>

#include "app/kestrow/connect.h"
#include "app/kestrow/texts.h"
#include "poll/polling_loop.h"
#include "poll/startup.h"

int main(int argc, char **argv) {
  RunSettings settings;
  std::uint8_t cardIdOut[16] = {};
  if (!StartTool(argc, argv, settings, kKestrowTexts)) return 0;
  CDesCard *slot = nullptr;
  bool connected = settings.poll.portGiven ? ConnectReader(slot, settings.reader, false)
                                           : SearchReader(slot, settings.reader);
  if (!connected) {
    delete slot;  // without the close command
    std::printf("Reader/Writer Error !!\n");
    return 0;
  }
  SlotBinding<CDesCard> reader(slot, settings.reader, ConnectReader, &CDesCard::CloseSession);
  // A result file that could not be written is the one failure the exit
  // status reports: its records are lost.
  return RunPollingLoop(reader, settings.poll, cardIdOut, ConsoleLoopHooks()) ? 0 : 1;
}
