// kestrow: polls a Triple-DES secured R/W for a card and measures how often
// one is found.
#include <cstdint>
#include <cstdio>

#include "app/kestrow/connect.h"
#include "app/kestrow/texts.h"
#include "platform/platform.h"
#include "poll/options.h"
#include "poll/polling_loop.h"
#include "poll/settings.h"

int main(int argc, char **argv) {
  platform::SetIdlePriority();
  platform::InstallStopHandlers();
  RunSettings settings;
  SetDefaultReaderSettings(settings.reader);
  SetDefaultPollSettings(settings.poll);
  std::uint8_t cardIdOut[16] = {};
  std::printf("\n");
  if (!ParseOptions(argc, argv, settings.reader, settings.poll, kKestrowTexts)) return 0;
  PrintBanner(kKestrowTexts);
  std::fflush(stdout);
  platform::PrepareConsoleInput();
  CDesCard *slot = nullptr;
  bool connected = settings.poll.portGiven ? ConnectReader(slot, settings.reader, false)
                                           : SearchReader(slot, settings.reader);
  if (!connected) {
    delete slot;  // without the close command
    std::printf("Reader/Writer Error !!\n");
    return 0;
  }
  SlotBinding<CDesCard> reader(slot, settings.reader, ConnectReader, &CDesCard::CloseSession);
  RunPollingLoop(reader, settings.poll, cardIdOut, ConsoleLoopHooks());
  return 0;
}
