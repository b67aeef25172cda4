// brimlet: polls a plain R/W for a card and measures how often one is found.
#include <cstdint>
#include <cstdio>

#include "app/brimlet/connect.h"
#include "app/brimlet/texts.h"
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
  if (!ParseOptions(argc, argv, settings.reader, settings.poll, kBrimletTexts)) return 0;
  PrintBanner(kBrimletTexts);
  std::fflush(stdout);
  platform::PrepareConsoleInput();
  CDesCard *slot = nullptr;
  if (!ConnectReader(slot, settings.reader, false)) {
    delete slot;  // without the close command
    return 0;
  }
  SlotBinding<CDesCard> reader(slot, settings.reader, ConnectReader, &CDesCard::CloseReader);
  RunPollingLoop(reader, settings.poll, cardIdOut, ConsoleLoopHooks());
  return 0;
}
