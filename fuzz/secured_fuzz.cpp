// kestrow's reader session over a line that sends anything: mutual
// authentication, polls, the close command and the opening of their
// answers, with DES on or off.
//
// Input: flags, ACK time-out, response time-out, clock start, then the line
// script (line_script.h). Flags bit 0: DES off; bits 1-3: polls after a
// successful authentication; bits 4-7: the time slot.
#include <cstdlib>
#include <cstring>

#include "fuzz/fuzz_support.h"
#include "platform/platform.h"
#include "platform/platform_fuzz.h"
#include "poll/settings.h"
#include "secure/des_card.h"
#include "sim/options.h"
#include "sim/reader_model.h"

namespace {

using fuzzsupport::Bytes;
using fuzzsupport::Expect;

struct Config {
  std::uint8_t flags;
  std::uint8_t ackCode;
  std::uint8_t responseCode;
  std::uint8_t clockCode;
  bool DesOff() const { return flags & 1; }
  int Polls() const { return (flags >> 1) & 7; }
  std::uint8_t TimeSlot() const { return flags >> 4; }
};

class Session {
 public:
  explicit Session(const Config &config)
      : ack_(fuzzsupport::TimeoutFrom(config.ackCode)),
        rt_(fuzzsupport::TimeoutFrom(config.responseCode)),
        card_("COM1", 115200, 8, 0, 0, rt_, ack_, 1024) {
    card_.SetPlainMode(config.DesOff());
  }

  int Authenticate() {
    ReaderSettings settings;
    SetDefaultReaderSettings(settings);
    return Checked(card_.Authenticate(settings.Ka, settings.Kb));
  }

  int Poll(std::uint8_t timeSlot) {
    std::uint8_t cardId[8];
    std::memset(cardId, 0xA5, sizeof cardId);
    int result = Checked(card_.PollCard(timeSlot, cardId));
    for (std::uint8_t byte : cardId) Expect(byte == 0xA5, "the poll leaves cardIdOut alone");
    return result;
  }

  int Close() { return Checked(card_.CloseSession()); }

 private:
  int Checked(int result) {
    Expect(fuzzsupport::IsExchangeResult(result), "a known result");
    Expect(card_.GetAckTimeout() == ack_ && card_.GetResponseTimeout() == rt_,
           "a command puts the time-outs back");
    return result;
  }

  int ack_;
  int rt_;
  secure::CDesCard card_;
};

template <class Attach>
std::vector<int> Run(const Config &config, Attach attach) {
  platform::fuzz::Reset(fuzzsupport::ClockStartFrom(config.clockCode));
  attach();
  std::vector<int> results;
  {
    Session session(config);
    results.push_back(session.Authenticate());
    if (results.back() == 0) {
      // The polling loop's stoppable section: a scripted stop counts here.
      platform::SetStoppable(true);
      for (int i = 0; i < config.Polls(); ++i) results.push_back(session.Poll(config.TimeSlot()));
      platform::SetStoppable(false);
    }
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

// One seed: a session against the secured simulated R/W, checked by playing
// the recorded script back. `expected` are the results it must give.
void WriteSeed(const char *folder, const std::string &name, const Config &config,
               const std::string &cardPattern, const std::vector<std::string> &faults,
               const std::vector<int> &expected) {
  sim::SimOptions defaults;
  sim::SecuredReaderConfig readerConfig{};
  readerConfig.desEnabled = !config.DesOff();
  std::memcpy(readerConfig.ka, defaults.ka, 8);
  std::memcpy(readerConfig.kb, defaults.kb, 8);
  std::memcpy(readerConfig.readerId, defaults.readerId, 8);
  std::memcpy(readerConfig.sessionKey, defaults.sessionKey, 8);
  std::memcpy(readerConfig.cardId, defaults.cardId, 8);
  std::memcpy(readerConfig.cardParameters, defaults.cardParameters, 8);
  sim::SecuredReader reader(readerConfig);
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
