// The frame receiver and the command exchange over a line that sends
// anything: garbage, broken frames, pauses, stalls, a far end that goes away.
//
// Input: flags, ACK time-out, response time-out, clock start, command
// length N, N command bytes, then the line script (line_script.h). Flags
// bit 0: receive frames only; bit 1: the pointer-and-count exchange; bit 2:
// the port cannot be opened.
#include <algorithm>
#include <memory>

#include "fuzz/fuzz_support.h"
#include "link/cmd.h"
#include "link/frame.h"

namespace {

using fuzzsupport::Bytes;
using fuzzsupport::Expect;
using fuzzsupport::SessionHead;

constexpr std::size_t kMaxExchanges = 8;

Bytes FrameOf(const Bytes &command) {
  Bytes out(command.size() + frame::kOverhead);
  out.resize(frame::Encode(command.data() + 1, command[0], out.data()));
  return out;
}

struct ExchangeTarget {
  struct Config : SessionHead {
    Bytes command;  // byte 0 the data length
    static Config Read(fuzzsupport::InputReader &in) {
      Config config{SessionHead::Read(in), {}};
      std::uint8_t length = in.Byte();
      config.command = in.Take(length);
      config.command.insert(config.command.begin(), length);
      return config;
    }
    Bytes Head() const {
      Bytes head = SessionHead::Head();
      head.insert(head.end(), command.begin(), command.end());
      return head;
    }
    bool ReceiveOnly() const { return flags & 1; }
    bool PointerAndCount() const { return flags & 2; }
    bool OpenFails() const { return flags & 4; }
  };

  // One exchange per reply after reply 0, at least one, at most
  // kMaxExchanges.
  static std::vector<int> Commands(const Config &config, std::size_t replies) {
    platform::fuzz::SetOpenFails(config.OpenFails());
    std::size_t exchanges = std::max<std::size_t>(1, std::min(replies - 1, kMaxExchanges));
    std::vector<int> results;
    try {
      fuzzsupport::CheckedSession<CCmd> session(config);
      const Bytes frame = FrameOf(config.command);
      platform::SetStoppable(true);  // exchanges as the polling loop makes them
      for (std::size_t i = 0; i < exchanges; ++i) {
        std::size_t before = platform::fuzz::Written().size();
        std::vector<std::uint8_t> response(256, 0);
        int result = session.Checked(ExchangeOnce(session.Reader(), config, response.data()));
        Expect(!config.ReceiveOnly() || result != kExchangeNoAck,
               "a missing ACK only in an exchange");
        Bytes sent(platform::fuzz::Written().begin() + before, platform::fuzz::Written().end());
        Expect(sent.empty() || sent == frame, "the command goes out as its frame, whole");
        results.push_back(result);
      }
    } catch (char *) {
      Expect(config.OpenFails(), "the port opens");
      results.push_back(-1);
    }
    return results;
  }

  static int ExchangeOnce(CCmd &cmd, const Config &config, std::uint8_t *response) {
    if (config.ReceiveOnly()) return cmd.ReceiveFrame(response, cmd.GetResponseTimeout());
    if (config.PointerAndCount()) {
      return cmd.Transceive(config.command.data() + 1, config.command[0], response);
    }
    return cmd.Transceive(config.command.data(), response);
  }
};

using Harness = fuzzsupport::LineHarness<ExchangeTarget>;

// One seed: `exchanges` exchanges against the plain simulated R/W with
// `faults`, after `stale` bytes; `expected` are the results they must give.
void WriteSeed(const char *folder, const std::string &name, const ExchangeTarget::Config &config,
               const std::vector<std::string> &faults, const Bytes &stale, std::size_t exchanges,
               const std::vector<int> &expected) {
  const std::uint8_t id[8] = {1, 2, 3, 4, 5, 6, 7, 8};
  fuzzsupport::SeedRw rw(std::make_unique<sim::PlainReader>(id, id), "always", faults);
  Harness::RecordSeed(folder, name, config, rw, exchanges + 1, expected, stale);
}

void WriteSeeds(const char *folder) {
  const Bytes open{0x04, 0x62, 0x21, 0x25, 0xF0};
  const Bytes close{0x01, 0x54};
  const Bytes poll{0x07, 0x5C, 0x06, 0x00, 0xFF, 0xFF, 0x00, 0x00};
  WriteSeed(folder, "open", {{0, 250, 250, 0}, open}, {}, {}, 1, {0});
  WriteSeed(folder, "polls", {{2, 13, 13, 100}, poll}, {"bad-checksum@2", "no-ack@3"}, {}, 4,
            {0, 255, 3, 0});
  WriteSeed(folder, "stale-bytes", {{0, 13, 13, 3}, close}, {"no-response@x2"},
            {0x00, 0x00, 0xFF, 0x02, 0xFE, 0x55}, 2, {0, 2});
  // Later than the time-outs, yet within one driver read (up to 100 ms):
  // both answers are taken.
  WriteSeed(folder, "late-answer", {{0, 13, 13, 140}, poll},
            {"response-delay=80@1", "ack-delay=30@2"}, {}, 2, {0, 0});
  WriteSeed(folder, "short-answer", {{0, 13, 0, 9}, poll}, {"short@1", "wrong-code@2"}, {}, 2,
            {0, 0});
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) { return Harness::Initialize(WriteSeeds); }

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  return Harness::TestOneInput(data, size);
}
