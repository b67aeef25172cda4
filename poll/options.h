// The command-line parser shared by both tools: pairs of option word and
// value, dispatched on the word's first character.
#pragma once

#include <string>

#include "poll/command_line.h"
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

// Reads the command line into the settings and prints what it asks for:
// the usage text (`h`), the version line (`v`), or, for a bad word or value,
// the usage text on standard output and one line on standard error naming
// the word and value refused and why.
ParseOutcome ParseOptions(int argc, char **argv, ReaderSettings &reader, PollSettings &poll,
                          const ToolTexts &texts);

// What the option words ask for, found without printing anything.
struct OptionReading {
  ParseOutcome outcome = ParseOutcome::kRun;
  int stopIndex = 0;          // argv index of the word that ended reading (not kRun)
  bool versionAsked = false;  // kShown: `v` (else `h`)
  std::string refusal;        // kRefused: "WORD VALUE (why)", printable
};

// Applies the option words in order until the end, `h`, `v` or the first
// word refused.
OptionReading ReadOptions(int argc, char **argv, ReaderSettings &reader, PollSettings &poll);

// Applies option words as ParseOptions does, printing nothing, for a program
// that checks a tool's words before starting it. Returns the index in argv
// of the first word refused (a bad or unknown word, one without its value,
// the version word, which ends a tool at once), or 0 when all apply.
int FirstRefusedOptionWord(int argc, char **argv, ReaderSettings &reader, PollSettings &poll);
