// What every program's command line shares: the outcome of reading it, and
// the standard words --help (also -h) and --version of rwsim, rwreport and
// rwstation. (kestrow and brimlet have their own words h and v.)
#pragma once

#include <string_view>

// What a command line asks for: a run, or an exit at once after the text
// that was asked for (help, version), or after a refused word or value.
enum class ParseOutcome { kRun, kShown, kRefused };

enum class StandardWord { kNone, kHelp, kVersion };

// --help and -h ask for the usage text, --version for the version line;
// nothing else does (not "--help=x", nor an abbreviation).
StandardWord StandardWordOf(std::string_view word);

// Prints the usage text or the version line ("PROGRAM VERSION") on standard
// output, and gives kShown. Each program calls it for the first standard word
// it meets where an option word may stand; a word refused before that one
// still refuses the command line.
ParseOutcome ShowStandardWord(StandardWord word, const char *program, const char *usage);
