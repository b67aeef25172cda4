#include "poll/options.h"

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/platform.h"

const char kCopyrightLine[] = "(C) 2026 The kestrow authors";

bool IsDecimalText(const char *text) {
  for (const char *p = text; *p; ++p) {
    if (!std::isdigit(static_cast<unsigned char>(*p))) return false;
  }
  return true;
}

bool IsHexText(const char *text) {
  for (const char *p = text; *p; ++p) {
    if (!std::isxdigit(static_cast<unsigned char>(*p))) return false;
  }
  return true;
}

int HexDigitValue(char digit) {
  if (digit >= '0' && digit <= '9') return digit - '0';
  if (digit >= 'A' && digit <= 'F') return digit - 'A' + 10;
  if (digit >= 'a' && digit <= 'f') return digit - 'a' + 10;
  return 0;
}

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

constexpr int kKeyDigits = 16;

// A decimal value: digits only (empty gives 0), held at the largest 32-bit
// value when larger.
bool ParseDecimal(const char *text, std::int32_t *value) {
  if (!IsDecimalText(text)) return false;
  long parsed = std::strtol(text, nullptr, 10);
  *value = parsed > INT_MAX ? INT_MAX : static_cast<std::int32_t>(parsed);
  return true;
}

bool ParseSwitch(const char *text, bool *value) {
  if (std::strcmp(text, "on") == 0) {
    *value = true;
  } else if (std::strcmp(text, "off") == 0) {
    *value = false;
  } else {
    return false;
  }
  return true;
}

bool ParseKey(const char *word, const char *text, ReaderSettings &reader) {
  if (std::strlen(text) != kKeyDigits || !IsHexText(text)) return false;
  std::uint8_t *key = nullptr;
  if (std::strcmp(word, "ka") == 0) key = reader.Ka;
  if (std::strcmp(word, "kb") == 0) key = reader.Kb;
  if (!key) return false;
  for (int j = 0; j < 8; ++j) {
    key[j] =
        static_cast<std::uint8_t>(16 * HexDigitValue(text[2 * j]) + HexDigitValue(text[2 * j + 1]));
  }
  return true;
}

bool SetPort(const char *value, ReaderSettings &reader, PollSettings &poll) {
  if (std::strlen(value) > MaxPortName()) return false;
  std::memset(reader.portPath, 0, sizeof reader.portPath);
  std::strcpy(reader.portPath, kPortPrefix);
  std::strcat(reader.portPath, value);
  poll.portGiven = true;
  return true;
}

// "all" frames in the event log, or those of "failures".
bool ParseFrameLogging(const char *text, bool *all) {
  *all = std::strcmp(text, "all") == 0;
  return *all || std::strcmp(text, "failures") == 0;
}

// A file path into a buffer of kPathCapacity.
bool SetFilePath(const char *value, char *path) {
  if (std::strlen(value) > MaxFilePath()) return false;
  std::memset(path, 0, kPathCapacity);
  std::strcpy(path, value);
  return true;
}

// Applies one option word with its value. Returns false on any error.
bool ApplyOption(const char *word, const char *value, ReaderSettings &reader, PollSettings &poll) {
  std::int32_t number = 0;
  switch (word[0]) {
    case 'c': return SetPort(value, reader, poll);
    case 'b': return ParseDecimal(value, &reader.baudRate);
    case 'a': return std::strcmp(word, "at") == 0 && ParseDecimal(value, &reader.ackTimeoutMs);
    case 'r': return std::strcmp(word, "rt") == 0 && ParseDecimal(value, &reader.responseTimeoutMs);
    case 'k':
      if (std::strcmp(word, "kagi") == 0) return ParseSwitch(value, &reader.desEnabled);
      return ParseKey(word, value, reader);
    case 't':
      // A run needs at least one attempt.
      if (!ParseDecimal(value, &number) || number == 0) return false;
      poll.attemptsPerRun = number > kMaxAttemptsPerRun ? kMaxAttemptsPerRun : number;
      poll.repeatRuns = false;
      return true;
    case 'e':
      if (!ParseDecimal(value, &number)) return false;
      poll.failureLimit = number > kMaxFailureLimit ? kMaxFailureLimit : number;
      poll.failureLimitSet = true;
      return true;
    case 'd': return ParseDecimal(value, &poll.recordTag);
    case 'f': return SetFilePath(value, poll.resultPath);
    case 'l':
      if (std::strcmp(word, "logframes") == 0) return ParseFrameLogging(value, &poll.logAllFrames);
      return std::strcmp(word, "log") == 0 && SetFilePath(value, poll.logPath);
    case 's': return ParseSwitch(value, &poll.commaTerminated);
    default: return false;
  }
}

}  // namespace

ParseOutcome ParseOptions(int argc, char **argv, ReaderSettings &reader, PollSettings &poll,
                          const ToolTexts &texts) {
  for (int i = 1; i < argc; i += 2) {
    const char *word = argv[i];
    if (word[0] == 'v') {
      PrintVersionLine(texts);
      return ParseOutcome::kShown;
    }
    if (word[0] == 'h') {
      PrintUsageText(texts);
      return ParseOutcome::kShown;
    }
    // Unknown words, missing values and bad values all end with the usage.
    if (i + 1 >= argc || !ApplyOption(word, argv[i + 1], reader, poll)) {
      PrintUsageText(texts);
      return ParseOutcome::kRefused;
    }
  }
  return ParseOutcome::kRun;
}

int FirstRefusedOptionWord(int argc, char **argv, ReaderSettings &reader, PollSettings &poll) {
  for (int i = 1; i < argc; i += 2) {
    if (argv[i][0] == 'v' || i + 1 >= argc || !ApplyOption(argv[i], argv[i + 1], reader, poll))
      return i;
  }
  return 0;
}
