// What the fuzz targets share: reading their input, checking what the code
// under test promises, and writing their seed corpus.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "fuzz/line_script.h"
#include "platform/platform.h"
#include "platform/platform_fuzz.h"
#include "sim/reader_model.h"
#include "sim/simulator.h"

namespace fuzzsupport {

using fuzzline::Bytes;

// Aborts, naming the broken promise, so that the fuzzer keeps the input.
void Expect(bool ok, const char *what);
bool IsExchangeResult(int result);

// Reads the fixed head of an input; missing bytes read as zero.
class InputReader {
 public:
  InputReader(const std::uint8_t *data, std::size_t size) : data_(data), size_(size) {}
  std::uint8_t Byte() { return pos_ < size_ ? data_[pos_++] : 0; }
  Bytes Take(std::size_t count);
  const std::uint8_t *Rest() const { return data_ + pos_; }
  std::size_t RestSize() const { return size_ - pos_; }

 private:
  const std::uint8_t *data_;
  std::size_t size_;
  std::size_t pos_ = 0;
};

// A time-out in ms from one input byte: 0 (no limit) to 1016 in steps of 4,
// and FFh the largest that the command line gives.
inline int TimeoutFrom(std::uint8_t code) { return code == 0xFF ? 2147483647 : code * 4; }
// Where the virtual clock starts: any millisecond within a second.
inline std::int64_t ClockStartFrom(std::uint8_t code) { return 86400000 + code * 7; }

// The far end played by the simulator, writing down what it sends as a
// script, for the seed corpus.
class RecordingFarEnd {
 public:
  explicit RecordingFarEnd(sim::Simulator &simulator) : simulator_(simulator) {}
  // Answers every write from now on (after platform::fuzz::Reset).
  void Attach();
  // Bytes already on the line before the host writes (call after Attach).
  void Stale(const Bytes &bytes);
  const Bytes &Script() const { return writer_.Text(); }

 private:
  sim::Simulator &simulator_;
  fuzzline::ScriptWriter writer_;
};

// The folder named by FUZZ_SEED_DIR, or nullptr. A target started with it
// writes its seed corpus there and exits.
const char *SeedFolder();
// With FUZZ_SEED_DIR set, writes the target's seeds there and ends the
// process; otherwise does nothing.
void WriteSeedsIfAsked(void (*writeSeeds)(const char *folder));
// Aborts, showing both, when a seed's results are not the ones meant.
void ExpectSeedResults(const std::string &name, const std::vector<int> &results,
                       const std::vector<int> &expected);
void WriteSeed(const char *folder, const std::string &name, const Bytes &input);

// The fixed head of the inputs that drive a reader session: flags (their
// meaning is the target's), the ACK and response time-out codes, and where
// the clock starts.
struct SessionHead {
  std::uint8_t flags;
  std::uint8_t ackCode;
  std::uint8_t responseCode;
  std::uint8_t clockCode;
  static SessionHead Read(InputReader &in) { return {in.Byte(), in.Byte(), in.Byte(), in.Byte()}; }
  Bytes Head() const { return {flags, ackCode, responseCode, clockCode}; }
};

// A reader session (or a bare exchange object) opened on the fuzzing line
// with the head's time-outs. Checked holds a command to what every reader
// command promises: a known result and the frame time-outs as they were.
template <class Card>
class CheckedSession {
 public:
  explicit CheckedSession(const SessionHead &head)
      : ack_(TimeoutFrom(head.ackCode)),
        rt_(TimeoutFrom(head.responseCode)),
        card_("COM1", 115200, 8, 0, 0, rt_, ack_, 1024) {}

  Card &Reader() { return card_; }
  int Checked(int result) {
    Expect(IsExchangeResult(result), "a known result");
    Expect(card_.GetAckTimeout() == ack_ && card_.GetResponseTimeout() == rt_,
           "a command puts the time-outs back");
    return result;
  }
  // Polls `count` times in the polling loop's stoppable section (a scripted
  // stop counts there), adding the results. A poll writes cardIdOut only
  // when it found a card and `writesCardId`.
  void Polls(int count, std::uint8_t timeSlot, bool writesCardId, std::vector<int> *results) {
    platform::SetStoppable(true);
    for (int i = 0; i < count; ++i) results->push_back(Poll(timeSlot, writesCardId));
    platform::SetStoppable(false);
  }

 private:
  int Poll(std::uint8_t timeSlot, bool writesCardId) {
    std::uint8_t cardId[8];
    std::memset(cardId, 0xA5, sizeof cardId);
    int result = Checked(card_.PollCard(timeSlot, cardId));
    if (result != 0 || !writesCardId) {
      for (std::uint8_t byte : cardId) Expect(byte == 0xA5, "cardIdOut left alone");
    }
    return result;
  }

  int ack_;
  int rt_;
  Card card_;
};

// The simulated R/W that seeds are recorded against: a reader model, its
// card pattern and its faults.
class SeedRw {
 public:
  SeedRw(std::unique_ptr<sim::ReaderModel> reader, const std::string &cardPattern,
         const std::vector<std::string> &faults);
  sim::Simulator &Simulator() { return simulator_; }

 private:
  std::unique_ptr<sim::ReaderModel> reader_;
  sim::CardSchedule cards_;
  sim::FaultPlan plan_;
  sim::Simulator simulator_;
};

// What every target that drives the host's side of the line shares. A run
// starts the virtual clock where the input says and puts the far end on the
// line, runs the target's commands, and ends with the port closed and the
// line reset. The far end is a script (the fuzzer's input, a seed played
// back) or the simulator (a seed being recorded).
//
// Target::Config is the input's fixed head: `static Config Read(InputReader
// &)`, `Bytes Head() const` (the bytes Read takes) and `clockCode`.
// `static std::vector<int> Target::Commands(const Config &, std::size_t
// replies)` runs the commands and returns their results; `replies` is the
// number of replies the far end holds (reply 0 is on the line before the
// first write).
template <class Target>
class LineHarness {
 public:
  using Config = typename Target::Config;

  // The fuzzer's set-up: with FUZZ_SEED_DIR set, writes the seeds and ends
  // the process.
  static int Initialize(void (*writeSeeds)(const char *folder)) {
    WriteSeedsIfAsked(writeSeeds);
    return 0;
  }

  // The fuzzer's entry: the head, then the script.
  static int TestOneInput(const std::uint8_t *data, std::size_t size) {
    InputReader in(data, size);
    Config config = Config::Read(in);
    Play(config, in.Rest(), in.RestSize());
    return 0;
  }

  static std::vector<int> Play(const Config &config, const std::uint8_t *script, std::size_t size) {
    fuzzline::LineScript line(script, size);
    return Run(config, line.ReplyCount(), [&line] { line.Attach(); });
  }

  // Records a seed against `rw`, with `stale` bytes on the line before the
  // first write; checks that it gives `expected` and that it plays back as
  // recorded, then writes it.
  static void RecordSeed(const char *folder, const std::string &name, const Config &config,
                         SeedRw &rw, std::size_t replies, const std::vector<int> &expected,
                         const Bytes &stale = {}) {
    RecordingFarEnd farEnd(rw.Simulator());
    std::vector<int> recorded = Run(config, replies, [&farEnd, &stale] {
      farEnd.Attach();
      farEnd.Stale(stale);
    });
    ExpectSeedResults(name, recorded, expected);
    const Bytes &script = farEnd.Script();
    Expect(Play(config, script.data(), script.size()) == recorded, "a seed plays back as recorded");
    Bytes input = config.Head();
    input.insert(input.end(), script.begin(), script.end());
    WriteSeed(folder, name, input);
  }

 private:
  template <class Attach>
  static std::vector<int> Run(const Config &config, std::size_t replies, Attach attach) {
    platform::fuzz::Reset(ClockStartFrom(config.clockCode));
    attach();
    std::vector<int> results = Target::Commands(config, replies);
    Expect(!platform::fuzz::PortIsOpen(), "the port is closed at the end");
    platform::fuzz::Reset(0);
    return results;
  }
};

}  // namespace fuzzsupport
