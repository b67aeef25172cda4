// kestrow's reader session over a line that sends anything: mutual
// authentication, polls, the close command and the opening of their
// answers, with DES on or off.
//
// Input: flags, ACK time-out, response time-out, clock start, then the line
// script (line_script.h). Flags bit 0: DES off; bits 1-3: polls after a
// successful authentication; bits 4-7: the time slot.
#include <memory>

#include "fuzz/fuzz_support.h"
#include "poll/settings.h"
#include "secure/des_card.h"
#include "sim/options.h"

namespace {

using fuzzsupport::SessionHead;

bool DesOff(const SessionHead &config) { return config.flags & 1; }

struct SecuredTarget {
  using Config = SessionHead;

  static std::vector<int> Commands(const Config &config, std::size_t) {
    const int polls = (config.flags >> 1) & 7;
    const auto timeSlot = static_cast<std::uint8_t>(config.flags >> 4);
    fuzzsupport::CheckedSession<secure::CDesCard> session(config);
    secure::CDesCard &card = session.Reader();
    card.SetPlainMode(DesOff(config));
    ReaderSettings settings;
    SetDefaultReaderSettings(settings);
    std::vector<int> results{session.Checked(card.Authenticate(settings.Ka, settings.Kb))};
    // This reader keeps a card's data to itself: cardIdOut is never written.
    if (results.back() == 0) session.Polls(polls, timeSlot, false, &results);
    results.push_back(session.Checked(card.CloseSession()));
    return results;
  }
};

using Harness = fuzzsupport::LineHarness<SecuredTarget>;

// One seed: a session against the secured simulated R/W with the
// simulator's default keys. `expected` are the results it must give.
void WriteSeed(const char *folder, const std::string &name, const SessionHead &config,
               const std::string &cardPattern, const std::vector<std::string> &faults,
               const std::vector<int> &expected) {
  sim::SimOptions options;
  options.secured = true;
  options.desEnabled = !DesOff(config);
  fuzzsupport::SeedRw rw(sim::MakeReaderModel(options), cardPattern, faults);
  Harness::RecordSeed(folder, name, config, rw, 0, expected);
}

void WriteSeeds(const char *folder) {
  WriteSeed(folder, "des-cards", {3 << 1, 13, 13, 0}, "o.", {}, {0, 0, 2, 0, 0});
  WriteSeed(folder, "plain-cards", {1 | 2 << 1, 13, 13, 71}, "o", {}, {0, 0, 0, 0});
  WriteSeed(folder, "des-faults", {4 << 1, 13, 13, 140}, "o",
            {"wrong-mac@1", "bad-checksum@2", "wrong-counter@3", "short@4"},
            {0, 255, 255, 255, 255, 0});
  WriteSeed(folder, "plain-faults", {1 | 4 << 1 | 3 << 4, 13, 13, 9}, "o",
            {"no-ack@1", "no-response@2", "wrong-code@3", "response-delay=40@4", "short@x1"},
            {0, 3, 2, 255, 0, 0});
  WriteSeed(folder, "des-wrong-auth", {1 << 1, 13, 13, 0}, "o", {"wrong-auth@c1"}, {255, 2});
  WriteSeed(folder, "des-late-close", {1 << 1, 13, 0, 0}, "o", {"ack-delay=20@x1"}, {0, 0, 0});
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) { return Harness::Initialize(WriteSeeds); }

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  return Harness::TestOneInput(data, size);
}
