// What the fuzz targets share: reading their input, checking what the code
// under test promises, and writing their seed corpus.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz/line_script.h"
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

}  // namespace fuzzsupport
