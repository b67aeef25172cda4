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
  if (std::optional<int> status = StartTool(argc, argv, settings, kKestrowTexts)) return *status;
  secure::CDesCard *slot = nullptr;
  std::vector<std::string> searched;
  bool connected = settings.poll.portGiven ? ConnectReader(slot, settings.reader, false)
                                           : SearchReader(slot, settings.reader, &searched);
  if (!connected) {
    delete slot;  // without the close command
    std::printf("Reader/Writer Error !!\n");
    std::fflush(stdout);
    std::string why = settings.poll.portGiven ? DescribeConnectionFailure(LastConnection())
                                              : DescribeSearchFailure(searched);
    std::fprintf(stderr, "%s\n", why.c_str());
    return EndTool(1);
  }
  SlotBinding<secure::CDesCard> reader(slot, settings.reader, ConnectReader,
                                       &secure::CDesCard::CloseSession);
  // Records that could not be written (or a result file that could not be
  // opened) fail the exit status: the figures are lost.
  return EndTool(RunPollingLoop(reader, settings.poll, cardIdOut, ConsoleLoopHooks()) ? 0 : 1);
}
