// brimlet: polls a plain R/W for a card and measures how often one is found.
#include <cstdint>
#include <cstdio>
#include <string>

#include "app/brimlet/connect.h"
#include "app/brimlet/texts.h"
#include "poll/connection.h"
#include "poll/polling_loop.h"
#include "poll/startup.h"

int main(int argc, char **argv) {
  RunSettings settings;
  std::uint8_t cardIdOut[16] = {};
  if (std::optional<int> status = StartTool(argc, argv, settings, kBrimletTexts)) return *status;
  plain::CDesCard *slot = nullptr;
  // One connection, whatever port option was given. The console stays
  // silent about a failure; standard error says why.
  if (!ConnectReader(slot, settings.reader, false)) {
    delete slot;  // without the close command
    std::fprintf(stderr, "%s\n", DescribeConnectionFailure(LastConnection()).c_str());
    return EndTool(1);
  }
  SlotBinding<plain::CDesCard> reader(slot, settings.reader, ConnectReader,
                                      &plain::CDesCard::CloseReader);
  // Records that could not be written (or a result file that could not be
  // opened) fail the exit status: the figures are lost.
  return EndTool(RunPollingLoop(reader, settings.poll, cardIdOut, ConsoleLoopHooks()) ? 0 : 1);
}
