// kestrow: polls a Triple-DES secured R/W for a card and measures how often
// one is found.
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "app/kestrow/connect.h"
#include "app/kestrow/texts.h"
#include "poll/connection.h"
#include "poll/startup.h"

int main(int argc, char **argv) {
  RunSettings settings;
  eventlog::Log log;  // opened when the command line asks for one
  if (auto status = StartTool(argc, argv, settings, kKestrowTexts, log)) return *status;
  ConnectionNotes notes(log.IfOpen());
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
    return EndTool(1, log.IfOpen());
  }
  std::uint8_t cardIdOut[16] = {};  // every poll's output area; nothing reads it
  SlotBinding<secure::CDesCard> reader(slot, settings.reader, ConnectReader,
                                       &secure::CDesCard::CloseSession, notes);
  return PollOnConsole(reader, settings.poll, cardIdOut, log.IfOpen());
}
