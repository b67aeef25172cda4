// kestrow: polls a Triple-DES secured R/W for a card and measures how often
// one is found.
#include <cstdio>

#include "app/kestrow/texts.h"
#include "platform/platform.h"
#include "poll/options.h"
#include "poll/settings.h"

int main(int argc, char **argv) {
  platform::SetIdlePriority();
  RunSettings settings;
  SetDefaultReaderSettings(settings.reader);
  SetDefaultPollSettings(settings.poll);
  std::printf("\n");
  if (!ParseOptions(argc, argv, settings.reader, settings.poll, kKestrowTexts)) return 0;
  PrintBanner(kKestrowTexts);
  std::printf("Reader/Writer Error !!\n");
  return 0;
}
