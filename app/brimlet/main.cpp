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
  eventlog::Log eventLog;  // opened when the command line asks for one
  if (std::optional<int> status = StartTool(argc, argv, settings, kBrimletTexts, eventLog)) {
    return *status;
  }
  eventlog::Log *log = eventLog.IsOpen() ? &eventLog : nullptr;
  ConnectionNotes notes(log);
  SessionSlot<plain::CDesCard> slot;
  // One connection, whatever port option was given. The console stays
  // silent about a failure; standard error says why.
  if (!ConnectReader(slot, settings.reader, false, notes)) {
    slot.reset();  // without the close command
    std::fprintf(stderr, "%s\n", DescribeConnectionFailure(notes.Last()).c_str());
    return EndTool(1, log);
  }
  SlotBinding<plain::CDesCard> reader(slot, settings.reader, ConnectReader,
                                      &plain::CDesCard::CloseReader, notes);
  // Records that could not be written (or a result file that could not be
  // opened) fail the exit status: the figures are lost.
  bool polled = RunPollingLoop(reader, settings.poll, cardIdOut, ConsoleLoopHooks(log));
  return EndTool(polled ? 0 : 1, log);
}
