// brimlet: polls a plain R/W for a card and measures how often one is found.
#include <cstdint>
#include <cstdio>
#include <string>

#include "app/brimlet/connect.h"
#include "app/brimlet/texts.h"
#include "poll/connection.h"
#include "poll/startup.h"

int main(int argc, char **argv) {
  RunSettings settings;
  eventlog::Log log;  // opened when the command line asks for one
  if (auto status = StartTool(argc, argv, settings, kBrimletTexts, log)) return *status;
  ConnectionNotes notes(log.IfOpen());
  SessionSlot<plain::CDesCard> slot;
  // One connection, whatever port option was given. The console stays
  // silent about a failure; standard error says why.
  if (!ConnectReader(slot, settings.reader, false, notes)) {
    slot.reset();  // without the close command
    std::fprintf(stderr, "%s\n", DescribeConnectionFailure(notes.Last()).c_str());
    return EndTool(1, log.IfOpen());
  }
  std::uint8_t cardIdOut[16] = {};  // every poll's output area; nothing reads it
  SlotBinding<plain::CDesCard> reader(slot, settings.reader, ConnectReader,
                                      &plain::CDesCard::CloseReader, notes);
  return PollOnConsole(reader, settings.poll, cardIdOut, log.IfOpen());
}
