// The command-line parser shared by both tools: pairs of option word and
// value, dispatched on the word's first character.
#pragma once

#include "poll/settings.h"

// The texts that differ between the tools.
struct ToolTexts {
  const char *name;  // the program's name, for the event log
  const char *title;
  const char *const *usageLines;  // ends with nullptr
};

// The maker's line printed by the banner and the version line.
extern const char kCopyrightLine[];

bool IsDecimalText(const char *text);
bool IsHexText(const char *text);
int HexDigitValue(char digit);

void PrintUsageText(const ToolTexts &texts);
void PrintVersionLine(const ToolTexts &texts);
void PrintBanner(const ToolTexts &texts);

// What the command line asks for: a run, or an exit at once after the usage
// text or version line that was asked for (`h`, `v`), or after a bad word or
// value, which prints the usage text too.
enum class ParseOutcome { kRun, kShown, kRefused };

ParseOutcome ParseOptions(int argc, char **argv, ReaderSettings &reader, PollSettings &poll,
                          const ToolTexts &texts);

// Applies option words as ParseOptions does, printing nothing, for a program
// that checks a tool's words before starting it. Returns the index in argv
// of the first word refused (a bad or unknown word, one without its value,
// the version word, which ends a tool at once), or 0 when all apply.
int FirstRefusedOptionWord(int argc, char **argv, ReaderSettings &reader, PollSettings &poll);
