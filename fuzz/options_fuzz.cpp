// The command-line parser on any words and values.
//
// Input: the arguments after the program name, each ended by a zero byte.
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "poll/options.h"

namespace {

using fuzzsupport::Bytes;
using fuzzsupport::Expect;

constexpr std::size_t kMaxArguments = 64;

std::vector<std::string> SplitArguments(const std::uint8_t *data, std::size_t size) {
  std::vector<std::string> arguments{"kestrow"};
  std::string current;
  for (std::size_t i = 0; i < size && arguments.size() < kMaxArguments; ++i) {
    if (data[i] == 0) {
      arguments.push_back(current);
      current.clear();
    } else {
      current.push_back(static_cast<char>(data[i]));
    }
  }
  if (!current.empty() && arguments.size() < kMaxArguments) arguments.push_back(current);
  return arguments;
}

bool EndsWithin(const char *text, std::size_t size) { return std::memchr(text, 0, size); }

void ExpectSoundSettings(bool accepted, const ReaderSettings &reader, const PollSettings &poll) {
  Expect(EndsWithin(reader.portPath, sizeof reader.portPath), "the port path fits");
  Expect(EndsWithin(poll.resultPath, sizeof poll.resultPath), "the result path fits");
  if (!accepted) return;
  Expect(std::strncmp(reader.portPath, kPortPrefix, std::strlen(kPortPrefix)) == 0,
         "the port path starts with the prefix");
  Expect(poll.attemptsPerRun >= 1 && poll.attemptsPerRun <= kMaxAttemptsPerRun,
         "attempts per run within 1 to the largest");
  Expect(poll.failureLimit >= 0 && poll.failureLimit <= kMaxFailureLimit,
         "failure limit within 0 to the largest");
  Expect(reader.baudRate >= 0 && reader.ackTimeoutMs >= 0 && reader.responseTimeoutMs >= 0,
         "no negative number");
  Expect(poll.recordTag >= kNoRecordTag, "a tag or none");
  Expect(poll.runForSeconds <= kMaxRunForSeconds, "a time limit within the largest, or none");
}

// Reading stops at a word that exists, and a refusal names it in printable
// text of a bounded length, whatever bytes the command line held.
void ExpectSoundReading(const OptionReading &reading, const std::vector<std::string> &arguments) {
  if (reading.outcome == ParseOutcome::kRun) return;
  Expect(reading.stopIndex >= 1 && reading.stopIndex < static_cast<int>(arguments.size()),
         "reading stops at a word of the command line");
  if (reading.outcome == ParseOutcome::kShown) {
    char first = arguments[reading.stopIndex][0];
    Expect(first == (reading.versionAsked ? 'v' : 'h'), "only h and v show a text");
    return;
  }
  Expect(!reading.refusal.empty() && reading.refusal.size() < 700, "a refusal is one short line");
  for (char c : reading.refusal) Expect(c >= ' ' && c < 0x7F, "a refusal is printable");
}

bool Parse(const std::vector<std::string> &arguments) {
  // Copies of exactly their own length, so that a read past one is seen.
  std::vector<std::vector<char>> storage;
  std::vector<char *> argv;
  for (const std::string &argument : arguments) {
    storage.emplace_back(argument.c_str(), argument.c_str() + argument.size() + 1);
  }
  for (auto &argument : storage) argv.push_back(argument.data());
  argv.push_back(nullptr);
  ReaderSettings reader;
  PollSettings poll;
  SetDefaultReaderSettings(reader);
  SetDefaultPollSettings(poll);
  // ParseOptions prints only fixed texts and the refusal line checked here.
  OptionReading reading =
      ReadOptions(static_cast<int>(arguments.size()), argv.data(), reader, poll);
  bool accepted = reading.outcome == ParseOutcome::kRun;
  ExpectSoundSettings(accepted, reader, poll);
  ExpectSoundReading(reading, arguments);
  return accepted;
}

void WriteSeed(const char *folder, const std::string &name,
               const std::vector<std::string> &arguments, bool accepted) {
  Bytes input;
  for (const std::string &argument : arguments) {
    input.insert(input.end(), argument.begin(), argument.end());
    input.push_back(0);
  }
  Expect(
      SplitArguments(input.data(), input.size()) ==
          [&] {
            std::vector<std::string> all{"kestrow"};
            all.insert(all.end(), arguments.begin(), arguments.end());
            return all;
          }(),
      "a seed splits back into its arguments");
  Expect(Parse(SplitArguments(input.data(), input.size())) == accepted, "a seed parses as meant");
  fuzzsupport::WriteSeed(folder, name, input);
}

void WriteSeeds(const char *folder) {
  WriteSeed(folder, "port-run",
            {"c", "/dev/ttyUSB0", "b", "76800", "t", "120", "f", "runs.csv", "d", "7", "s", "off"},
            true);
  WriteSeed(
      folder, "keys",
      {"ka", "0123456789abcdef", "kb", "FEDCBA9876543210", "kagi", "off", "rt", "100", "at", "0"},
      true);
  WriteSeed(folder, "limits", {"comport", "COM3", "e", "5000", "t", "99999999999999"}, true);
  WriteSeed(folder, "run-for", {"runfor", "12h", "rt", "60", "runfor", "90"}, true);
  WriteSeed(folder, "run-for-refused", {"runfor", "367d"}, false);
  WriteSeed(folder, "version", {"v"}, false);
  WriteSeed(folder, "bad-word", {"c", "COM1", "x", "1"}, false);
  WriteSeed(folder, "missing-value", {"rt"}, false);
  WriteSeed(folder, "bad-value", {"t", "10", "d", "\x1b[2J"}, false);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  fuzzsupport::WriteSeedsIfAsked(WriteSeeds);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  Parse(SplitArguments(data, size));
  return 0;
}
