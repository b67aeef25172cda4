#include "poll/startup.h"

#include <cstdio>

#include "platform/platform.h"

bool StartTool(int argc, char **argv, RunSettings &settings, const ToolTexts &texts) {
  platform::SetIdlePriority();
  platform::InstallStopHandlers();
  SetDefaultReaderSettings(settings.reader);
  SetDefaultPollSettings(settings.poll);
  std::printf("\n");
  if (!ParseOptions(argc, argv, settings.reader, settings.poll, texts)) return false;
  PrintBanner(texts);
  std::fflush(stdout);
  // A key pressed from here on, during the connection too, stops polling.
  platform::PrepareConsoleInput();
  return true;
}
