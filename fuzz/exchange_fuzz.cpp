// The frame receiver and the command exchange over a line that sends
// anything: garbage, broken frames, pauses, stalls, a far end that goes away.
//
// Input: mode, ACK time-out, response time-out, clock start, command length
// N, N command bytes, then the line script (line_script.h). Mode bit 0:
// receive frames only; bit 1: the pointer-and-count exchange; bit 2: the
// port cannot be opened.
#include <algorithm>
#include <cstdio>
#include <cstring>

#include "fuzz/fuzz_support.h"
#include "link/cmd.h"
#include "platform/platform.h"
#include "platform/platform_fuzz.h"
#include "sim/reader_model.h"

namespace {

using fuzzsupport::Bytes;
using fuzzsupport::Expect;

constexpr std::size_t kMaxExchanges = 8;

struct Config {
  std::uint8_t mode;
  std::uint8_t ackCode;
  std::uint8_t responseCode;
  std::uint8_t clockCode;
  Bytes command;  // byte 0 the data length
};

Config ReadConfig(fuzzsupport::InputReader &in) {
  Config config{in.Byte(), in.Byte(), in.Byte(), in.Byte(), {}};
  std::uint8_t length = in.Byte();
  config.command = in.Take(length);
  config.command.insert(config.command.begin(), length);
  return config;
}

Bytes Head(const Config &config) {
  Bytes head{config.mode, config.ackCode, config.responseCode, config.clockCode};
  head.insert(head.end(), config.command.begin(), config.command.end());
  return head;
}

Bytes FrameOf(const Bytes &command) {
  Bytes out(command.size() + frame::kOverhead);
  out.resize(frame::Encode(command.data() + 1, command[0], out.data()));
  return out;
}

int ExchangeOnce(CCmd &cmd, const Config &config, std::uint8_t *response) {
  if (config.mode & 1) return cmd.ReceiveFrame(response, cmd.GetResponseTimeout());
  if (config.mode & 2) {
    return cmd.Transceive(config.command.data() + 1, config.command[0], response);
  }
  return cmd.Transceive(config.command.data(), response);
}

// Runs the exchanges; the far end must be attached by `attach`. Returns the
// results.
template <class Attach>
std::vector<int> Run(const Config &config, std::size_t exchanges, Attach attach) {
  platform::fuzz::Reset(fuzzsupport::ClockStartFrom(config.clockCode));
  platform::fuzz::SetOpenFails(config.mode & 4);
  attach();
  std::vector<int> results;
  int ack = fuzzsupport::TimeoutFrom(config.ackCode);
  int rt = fuzzsupport::TimeoutFrom(config.responseCode);
  try {
    CCmd cmd("COM1", 115200, 8, 0, 0, rt, ack, 1024);
    const Bytes frame = FrameOf(config.command);
    platform::SetStoppable(true);  // exchanges as the polling loop makes them
    for (std::size_t i = 0; i < exchanges; ++i) {
      std::size_t before = platform::fuzz::Written().size();
      std::vector<std::uint8_t> response(256, 0);
      int result = ExchangeOnce(cmd, config, response.data());
      Expect(fuzzsupport::IsExchangeResult(result), "an exchange result");
      Expect(!(config.mode & 1) || result != kExchangeNoAck, "a missing ACK only in an exchange");
      Bytes sent(platform::fuzz::Written().begin() + before, platform::fuzz::Written().end());
      Expect(sent.empty() || sent == frame, "the command goes out as its frame, whole");
      Expect(cmd.GetAckTimeout() == ack && cmd.GetResponseTimeout() == rt, "time-outs stay as set");
      results.push_back(result);
    }
  } catch (char *) {
    Expect(config.mode & 4, "the port opens");
    results.push_back(-1);
  }
  Expect(!platform::fuzz::PortIsOpen(), "the port is closed at the end");
  platform::fuzz::Reset(0);
  return results;
}

std::vector<int> RunScript(const Config &config, const std::uint8_t *script, std::size_t size) {
  fuzzline::LineScript line(script, size);
  // Reply 0 is on the line before the first write; one exchange per reply
  // after it.
  std::size_t exchanges = std::max<std::size_t>(1, std::min(line.ReplyCount() - 1, kMaxExchanges));
  return Run(config, exchanges, [&line] { line.Attach(); });
}

// One seed: the exchanges against the plain simulated R/W with `faults`,
// checked by playing the recorded script back.
void WriteSeed(const char *folder, const std::string &name, const Config &config,
               const std::vector<std::string> &faults, const Bytes &stale, std::size_t exchanges) {
  const std::uint8_t id[8] = {1, 2, 3, 4, 5, 6, 7, 8};
  sim::PlainReader reader(id, id);
  sim::CardSchedule cards;
  sim::FaultPlan plan;
  for (const std::string &fault : faults) Expect(plan.Add(fault).empty(), "a known fault");
  sim::Simulator simulator(reader, cards, plan, nullptr);
  fuzzsupport::RecordingFarEnd farEnd(simulator);
  std::vector<int> recorded = Run(config, exchanges, [&] {
    farEnd.Attach();
    farEnd.Stale(stale);
  });
  Bytes input = Head(config);
  input.insert(input.end(), farEnd.Script().begin(), farEnd.Script().end());
  Expect(RunScript(config, farEnd.Script().data(), farEnd.Script().size()) == recorded,
         "a seed plays back as recorded");
  fuzzsupport::WriteSeed(folder, name, input);
}

void WriteSeeds(const char *folder) {
  const Bytes open{0x04, 0x62, 0x21, 0x25, 0xF0};
  const Bytes close{0x01, 0x54};
  const Bytes poll{0x07, 0x5C, 0x06, 0x00, 0xFF, 0xFF, 0x00, 0x00};
  WriteSeed(folder, "open", {0, 250, 250, 0, open}, {}, {}, 1);
  WriteSeed(folder, "polls", {2, 13, 13, 100, poll}, {"bad-checksum@2", "no-ack@3"}, {}, 4);
  WriteSeed(folder, "stale-bytes", {0, 13, 13, 3, close}, {"no-response@x2"},
            {0x00, 0x00, 0xFF, 0x02, 0xFE, 0x55}, 2);
  WriteSeed(folder, "late-answer", {0, 13, 13, 140, poll},
            {"response-delay=80@1", "ack-delay=30@2"}, {}, 2);
  WriteSeed(folder, "short-answer", {0, 13, 0, 9, poll}, {"short@1", "wrong-code@2"}, {}, 2);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  fuzzsupport::WriteSeedsIfAsked(WriteSeeds);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  fuzzsupport::InputReader in(data, size);
  Config config = ReadConfig(in);
  RunScript(config, in.Rest(), in.RestSize());
  return 0;
}
