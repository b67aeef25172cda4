// kestrow: polls a Triple-DES secured R/W for a card and measures how often
// one is found.
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "app/kestrow/connect.h"
#include "app/kestrow/texts.h"
#include "poll/connection.h"
#include "poll/polling_loop.h"
#include "poll/startup.h"

int main(int argc, char **argv) {
  RunSettings settings;
  std::uint8_t cardIdOut[16] = {};
  eventlog::Log eventLog;  // opened when the command line asks for one
  if (std::optional<int> status = StartTool(argc, argv, settings, kKestrowTexts, eventLog)) {
    return *status;
  }
  eventlog::Log *log = eventLog.IsOpen() ? &eventLog : nullptr;
  ConnectionNotes notes(log);
  SessionSlot<secure::CDesCard> slot;
  std::vector<std::string> searched;
  bool connected = settings.poll.portGiven ? ConnectReader(slot, settings.reader, false, notes)
                                           : SearchReader(slot, settings.reader, &searched, notes);
  if (!connected) {
    slot.reset();  // without the close command
    std::printf("Reader/Writer Error !!\n");
    std::fflush(stdout);
    std::string why = settings.poll.portGiven ? DescribeConnectionFailure(notes.Last())
                                              : DescribeSearchFailure(searched);
    std::fprintf(stderr, "%s\n", why.c_str());
    return EndTool(1, log);
  }
  SlotBinding<secure::CDesCard> reader(slot, settings.reader, ConnectReader,
                                       &secure::CDesCard::CloseSession, notes);
  // Records that could not be written (or a result file that could not be
  // opened) fail the exit status: the figures are lost.
  bool polled = RunPollingLoop(reader, settings.poll, cardIdOut, ConsoleLoopHooks(log));
  return EndTool(polled ? 0 : 1, log);
}
