#include "poll/options.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>

#include "platform/platform.h"
#include "poll/number_text.h"

const char kCopyrightLine[] = "(C) 2026 The kestrow authors";

bool IsDecimalText(const char *text) { return numtext::AllDigits(text); }

bool IsHexText(const char *text) { return numtext::AllHexDigits(text); }

int HexDigitValue(char digit) { return std::max(0, numtext::HexDigit(digit)); }

void PrintUsageText(const ToolTexts &texts) {
  for (const char *const *line = texts.usageLines; *line; ++line) std::printf("%s", *line);
}

void PrintVersionLine(const ToolTexts &texts) {
  std::printf("<< %s %s >> \n", texts.title, kCopyrightLine);
}

void PrintBanner(const ToolTexts &texts) {
  std::printf("<< %s >>\n<< %s >>\n\n", texts.title, kCopyrightLine);
}

namespace {

// The platform's limits, within the buffers' room.
std::size_t MaxPortName() {
  std::size_t room = sizeof(ReaderSettings::portPath) - sizeof(kPortPrefix);
  return std::min(room, static_cast<std::size_t>(platform::MaxPortNameLength()));
}

std::size_t MaxFilePath() {
  std::size_t room = sizeof(PollSettings::resultPath) - 1;
  return std::min(room, static_cast<std::size_t>(platform::MaxFilePathLength()));
}

constexpr std::size_t kKeyBytes = 8;
constexpr std::size_t kShownBytes = 64;

const char kNotAnOptionWord[] = "not an option word";

// How an option word with its value was taken.
enum class Applied { kDone, kUnknownWord, kBadValue };

Applied Check(bool good) { return good ? Applied::kDone : Applied::kBadValue; }

// A decimal value, held at the largest 32-bit value when larger.
Applied ParseDecimal(const char *text, std::int32_t *value, std::string *why) {
  std::optional<std::int32_t> parsed = numtext::ParseToolDecimal(text, why);
  if (parsed) *value = *parsed;
  return Check(parsed.has_value());
}

Applied ParseSwitch(const char *text, bool *value, std::string *why) {
  bool on = std::strcmp(text, "on") == 0;
  if (!on && std::strcmp(text, "off") != 0) {
    *why = "on or off is expected";
    return Applied::kBadValue;
  }
  *value = on;
  return Applied::kDone;
}

Applied ParseKey(const char *word, const char *text, ReaderSettings &reader, std::string *why) {
  std::uint8_t *key = nullptr;
  if (std::strcmp(word, "ka") == 0) key = reader.Ka;
  if (std::strcmp(word, "kb") == 0) key = reader.Kb;
  if (!key) return Applied::kUnknownWord;
  return Check(numtext::ParseHexBytes(text, key, kKeyBytes, why));
}

std::string AtMost(const char *what, std::size_t limit) {
  return std::string("a ") + what + " of at most " + std::to_string(limit) +
         " characters is expected";
}

Applied SetPort(const char *value, ReaderSettings &reader, PollSettings &poll, std::string *why) {
  if (std::strlen(value) > MaxPortName()) {
    *why = AtMost("port name", MaxPortName());
    return Applied::kBadValue;
  }
  std::memset(reader.portPath, 0, sizeof reader.portPath);
  std::strcpy(reader.portPath, kPortPrefix);
  std::strcat(reader.portPath, value);
  poll.portGiven = true;
  return Applied::kDone;
}

// "all" frames in the event log, or those of "failures".
Applied ParseFrameLogging(const char *text, bool *all, std::string *why) {
  *all = std::strcmp(text, "all") == 0;
  if (*all || std::strcmp(text, "failures") == 0) return Applied::kDone;
  *why = "failures or all is expected";
  return Applied::kBadValue;
}

// A file path into a buffer of kPathCapacity.
Applied SetFilePath(const char *value, char *path, std::string *why) {
  if (std::strlen(value) > MaxFilePath()) {
    *why = AtMost("path", MaxFilePath());
    return Applied::kBadValue;
  }
  std::memset(path, 0, kPathCapacity);
  std::strcpy(path, value);
  return Applied::kDone;
}

Applied SetAttempts(const char *value, PollSettings &poll, std::string *why) {
  std::int32_t number = 0;
  if (ParseDecimal(value, &number, why) != Applied::kDone) return Applied::kBadValue;
  // A run needs at least one attempt.
  if (number == 0) {
    *why = "a run of at least 1 attempt is expected";
    return Applied::kBadValue;
  }
  poll.attemptsPerRun = number > kMaxAttemptsPerRun ? kMaxAttemptsPerRun : number;
  poll.repeatRuns = false;
  return Applied::kDone;
}

Applied SetFailureLimit(const char *value, PollSettings &poll, std::string *why) {
  std::int32_t number = 0;
  if (ParseDecimal(value, &number, why) != Applied::kDone) return Applied::kBadValue;
  poll.failureLimit = number > kMaxFailureLimit ? kMaxFailureLimit : number;
  poll.failureLimitSet = true;
  return Applied::kDone;
}

// How long to poll, as a duration (90s, 30m, 12h, 2d; digits alone are
// seconds).
Applied SetRunFor(const char *value, PollSettings &poll, std::string *why) {
  std::optional<std::uint64_t> seconds = numtext::ParseDuration(value, 1, kMaxRunForSeconds, why);
  if (!seconds) return Applied::kBadValue;
  poll.runForSeconds = static_cast<std::uint32_t>(*seconds);
  return Applied::kDone;
}

// The words that begin with r: rt and runfor, written out.
Applied ApplyRWord(const char *word, const char *value, ReaderSettings &reader, PollSettings &poll,
                   std::string *why) {
  if (std::strcmp(word, "rt") == 0) return ParseDecimal(value, &reader.responseTimeoutMs, why);
  if (std::strcmp(word, "runfor") == 0) return SetRunFor(value, poll, why);
  return Applied::kUnknownWord;
}

// The words that begin with l: log and logframes, written out.
Applied ApplyLogOption(const char *word, const char *value, PollSettings &poll, std::string *why) {
  if (std::strcmp(word, "logframes") == 0) return ParseFrameLogging(value, &poll.logAllFrames, why);
  if (std::strcmp(word, "log") == 0) return SetFilePath(value, poll.logPath, why);
  return Applied::kUnknownWord;
}

// Applies one option word with its value; on a bad value `why` says what
// the word expects.
Applied ApplyOption(const char *word, const char *value, ReaderSettings &reader, PollSettings &poll,
                    std::string *why) {
  switch (word[0]) {
    case 'c': return SetPort(value, reader, poll, why);
    case 'b': return ParseDecimal(value, &reader.baudRate, why);
    case 'a':
      if (std::strcmp(word, "at") != 0) return Applied::kUnknownWord;
      return ParseDecimal(value, &reader.ackTimeoutMs, why);
    case 'r': return ApplyRWord(word, value, reader, poll, why);
    case 'k':
      if (std::strcmp(word, "kagi") == 0) return ParseSwitch(value, &reader.desEnabled, why);
      return ParseKey(word, value, reader, why);
    case 't': return SetAttempts(value, poll, why);
    case 'e': return SetFailureLimit(value, poll, why);
    case 'd': return ParseDecimal(value, &poll.recordTag, why);
    case 'f': return SetFilePath(value, poll.resultPath, why);
    case 'l': return ApplyLogOption(word, value, poll, why);
    case 's': return ParseSwitch(value, &poll.commaTerminated, why);
    default: return Applied::kUnknownWord;
  }
}

// A word at the end, without its value: an unknown word is named as such.
Applied MissingValue(const char *word, const ReaderSettings &reader, const PollSettings &poll) {
  ReaderSettings scratchReader = reader;
  PollSettings scratchPoll = poll;
  std::string why;
  Applied applied = ApplyOption(word, "", scratchReader, scratchPoll, &why);
  return applied == Applied::kUnknownWord ? applied : Applied::kBadValue;
}

// A word or value as the refusal line shows it: as it is when it is plain
// printable text, else quoted with its other bytes escaped, so that nothing
// from the command line can steer the terminal; long values are cut.
std::string Shown(const char *text) {
  auto printable = [](unsigned char c) { return c >= ' ' && c < 0x7F; };
  std::size_t length = std::strlen(text);
  bool plain = length > 0 && length <= kShownBytes && text[0] != '"';
  for (std::size_t i = 0; i < length && plain; ++i)
    plain = printable(static_cast<unsigned char>(text[i])) && text[i] != ' ';
  if (plain) return text;
  std::string shown = "\"";
  for (std::size_t i = 0; i < length && i < kShownBytes; ++i) {
    auto c = static_cast<unsigned char>(text[i]);
    if (c == '"' || c == '\\') shown += '\\';
    if (printable(c)) {
      shown += static_cast<char>(c);
    } else {
      char escaped[5];
      std::snprintf(escaped, sizeof escaped, "\\x%02X", c);
      shown += escaped;
    }
  }
  return shown + (length > kShownBytes ? "\"..." : "\"");
}

}  // namespace

OptionReading ReadOptions(int argc, char **argv, ReaderSettings &reader, PollSettings &poll) {
  OptionReading reading;
  for (int i = 1; i < argc; i += 2) {
    const char *word = argv[i];
    reading.stopIndex = i;
    if (word[0] == 'v' || word[0] == 'h') {
      reading.outcome = ParseOutcome::kShown;
      reading.versionAsked = word[0] == 'v';
      return reading;
    }
    std::string why = "its value is missing";
    Applied applied = i + 1 < argc ? ApplyOption(word, argv[i + 1], reader, poll, &why)
                                   : MissingValue(word, reader, poll);
    if (applied == Applied::kDone) continue;
    reading.outcome = ParseOutcome::kRefused;
    if (applied == Applied::kUnknownWord) {
      reading.refusal = Shown(word) + " (" + kNotAnOptionWord + ")";
    } else if (i + 1 < argc) {
      reading.refusal = Shown(word) + " " + Shown(argv[i + 1]) + " (" + why + ")";
    } else {
      reading.refusal = Shown(word) + " (" + why + ")";
    }
    return reading;
  }
  reading.stopIndex = 0;
  return reading;
}

ParseOutcome ParseOptions(int argc, char **argv, ReaderSettings &reader, PollSettings &poll,
                          const ToolTexts &texts) {
  OptionReading reading = ReadOptions(argc, argv, reader, poll);
  if (reading.outcome == ParseOutcome::kShown && reading.versionAsked) {
    PrintVersionLine(texts);
  } else if (reading.outcome != ParseOutcome::kRun) {
    PrintUsageText(texts);
  }
  if (reading.outcome == ParseOutcome::kRefused) {
    // The usage text stays as it always was; the reason follows it.
    std::fflush(stdout);
    std::fprintf(stderr, "Refused: %s\n", reading.refusal.c_str());
  }
  return reading.outcome;
}

int FirstRefusedOptionWord(int argc, char **argv, ReaderSettings &reader, PollSettings &poll) {
  OptionReading reading = ReadOptions(argc, argv, reader, poll);
  return reading.outcome == ParseOutcome::kRun ? 0 : reading.stopIndex;
}
