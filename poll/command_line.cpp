#include "poll/command_line.h"

#include <cstdio>

#include "project_version.h"

StandardWord StandardWordOf(std::string_view word) {
  if (word == "--help" || word == "-h") return StandardWord::kHelp;
  if (word == "--version") return StandardWord::kVersion;
  return StandardWord::kNone;
}

ParseOutcome ShowStandardWord(StandardWord word, const char *program, const char *usage) {
  if (word == StandardWord::kVersion) {
    std::printf("%s %s\n", program, PROJECT_VERSION_TEXT);
  } else {
    std::fputs(usage, stdout);
  }
  return ParseOutcome::kShown;
}
