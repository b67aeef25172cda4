// brimlet's reader commands over a line that sends anything: open, polls
// and close.
//
// Input: flags, ACK time-out, response time-out, clock start, then the line
// script (line_script.h). Flags bits 0-2: polls after the open command; bits
// 3-7: the time slot.
#include <memory>

#include "fuzz/fuzz_support.h"
#include "plain/des_card.h"
#include "sim/options.h"

namespace {

using fuzzsupport::SessionHead;

struct PlainTarget {
  using Config = SessionHead;

  static std::vector<int> Commands(const Config &config, std::size_t) {
    const int polls = config.flags & 7;
    const auto timeSlot = static_cast<std::uint8_t>(config.flags >> 3);
    fuzzsupport::CheckedSession<plain::CDesCard> session(config);
    std::vector<int> results{session.Checked(session.Reader().OpenReader())};
    session.Polls(polls, timeSlot, true, &results);
    results.push_back(session.Checked(session.Reader().CloseReader()));
    return results;
  }
};

using Harness = fuzzsupport::LineHarness<PlainTarget>;

// One seed: open, polls and close against the plain simulated R/W (the
// simulator's own card). `expected` are the results it must give.
void WriteSeed(const char *folder, const std::string &name, const SessionHead &config,
               const std::string &cardPattern, const std::vector<std::string> &faults,
               const std::vector<int> &expected) {
  fuzzsupport::SeedRw rw(sim::MakeReaderModel(sim::SimOptions{}), cardPattern, faults);
  Harness::RecordSeed(folder, name, config, rw, 0, expected);
}

void WriteSeeds(const char *folder) {
  WriteSeed(folder, "cards", {3, 13, 13, 0}, "o.o", {}, {0, 0, 2, 0, 0});
  WriteSeed(folder, "faults", {5 | 1 << 3, 13, 13, 33}, "o",
            {"no-ack@1", "bad-checksum@2", "wrong-code@3", "short@4", "response-delay=40@5"},
            {0, 3, 255, 255, 255, 0, 0});
  WriteSeed(folder, "open-fails", {1, 13, 13, 0}, "o", {"no-response@c1", "no-ack@x1"}, {2, 0, 3});
  WriteSeed(folder, "no-limit", {2, 0, 0, 99}, "o", {"ack-delay=300@2"}, {0, 0, 0, 0});
  // No card: the R/W stays silent, and without a limit the wait ends only
  // when the line goes quiet for good.
  WriteSeed(folder, "goes-away", {2, 0, 0, 99}, ".o", {}, {0, 2, 3, 3});
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) { return Harness::Initialize(WriteSeeds); }

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  return Harness::TestOneInput(data, size);
}
