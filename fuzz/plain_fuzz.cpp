// brimlet's reader commands over a line that sends anything: open, polls
// and close.
//
// Input: flags, ACK time-out, response time-out, clock start, then the line
// script (line_script.h). Flags bits 0-2: polls after the open command; bits
// 3-7: the time slot.
#include <cstdlib>
#include <cstring>

#include "fuzz/fuzz_support.h"
#include "plain/des_card.h"
#include "platform/platform.h"
#include "platform/platform_fuzz.h"
#include "sim/reader_model.h"

namespace {

using fuzzsupport::Bytes;
using fuzzsupport::Expect;

struct Config {
  std::uint8_t flags;
  std::uint8_t ackCode;
  std::uint8_t responseCode;
  std::uint8_t clockCode;
  int Polls() const { return flags & 7; }
  std::uint8_t TimeSlot() const { return flags >> 3; }
};

class Session {
 public:
  explicit Session(const Config &config)
      : ack_(fuzzsupport::TimeoutFrom(config.ackCode)),
        rt_(fuzzsupport::TimeoutFrom(config.responseCode)),
        card_("COM1", 115200, 8, 0, 0, rt_, ack_, 1024) {}

  int Open() { return Checked(card_.OpenReader()); }
  int Close() { return Checked(card_.CloseReader()); }

  int Poll(std::uint8_t timeSlot) {
    std::uint8_t cardId[8];
    std::memset(cardId, 0xA5, sizeof cardId);
    int result = Checked(card_.PollCard(timeSlot, cardId));
    if (result != 0) {
      for (std::uint8_t byte : cardId) Expect(byte == 0xA5, "a failed poll leaves cardIdOut alone");
    }
    return result;
  }

 private:
  int Checked(int result) {
    Expect(fuzzsupport::IsExchangeResult(result), "a known result");
    Expect(card_.GetAckTimeout() == ack_ && card_.GetResponseTimeout() == rt_,
           "a command puts the time-outs back");
    return result;
  }

  int ack_;
  int rt_;
  plain::CDesCard card_;
};

template <class Attach>
std::vector<int> Run(const Config &config, Attach attach) {
  platform::fuzz::Reset(fuzzsupport::ClockStartFrom(config.clockCode));
  attach();
  std::vector<int> results;
  {
    Session session(config);
    results.push_back(session.Open());
    // The polling loop's stoppable section: a scripted stop counts here.
    platform::SetStoppable(true);
    for (int i = 0; i < config.Polls(); ++i) results.push_back(session.Poll(config.TimeSlot()));
    platform::SetStoppable(false);
    results.push_back(session.Close());
  }
  Expect(!platform::fuzz::PortIsOpen(), "the port is closed at the end");
  platform::fuzz::Reset(0);
  return results;
}

std::vector<int> RunScript(const Config &config, const std::uint8_t *script, std::size_t size) {
  fuzzline::LineScript line(script, size);
  return Run(config, [&line] { line.Attach(); });
}

// One seed: open, polls and close against the plain simulated R/W, checked
// by playing the recorded script back. `expected` are the results it must
// give.
void WriteSeed(const char *folder, const std::string &name, const Config &config,
               const std::string &cardPattern, const std::vector<std::string> &faults,
               const std::vector<int> &expected) {
  const std::uint8_t cardId[8] = {0x01, 0x2E, 0x4C, 0x7A, 0x9B, 0xC3, 0xD5, 0xE7};
  const std::uint8_t parameters[8] = {0x03, 0x01, 0x4B, 0x02, 0x4F, 0x49, 0x93, 0xFF};
  sim::PlainReader reader(cardId, parameters);
  sim::CardSchedule cards;
  Expect(cards.Parse(cardPattern), "a card pattern");
  sim::FaultPlan plan;
  for (const std::string &fault : faults) Expect(plan.Add(fault).empty(), "a known fault");
  sim::Simulator simulator(reader, cards, plan, nullptr);
  fuzzsupport::RecordingFarEnd farEnd(simulator);
  std::vector<int> recorded = Run(config, [&farEnd] { farEnd.Attach(); });
  fuzzsupport::ExpectSeedResults(name, recorded, expected);
  Expect(RunScript(config, farEnd.Script().data(), farEnd.Script().size()) == recorded,
         "a seed plays back as recorded");
  Bytes input{config.flags, config.ackCode, config.responseCode, config.clockCode};
  input.insert(input.end(), farEnd.Script().begin(), farEnd.Script().end());
  fuzzsupport::WriteSeed(folder, name, input);
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

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  fuzzsupport::WriteSeedsIfAsked(WriteSeeds);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  fuzzsupport::InputReader in(data, size);
  Config config{in.Byte(), in.Byte(), in.Byte(), in.Byte()};
  RunScript(config, in.Rest(), in.RestSize());
  return 0;
}
