// The simulator's side of the line: its frame parser and the simulated R/Ws
// behind it, on any bytes from the host, cut into any pieces.
//
// Input: a selector, then pieces, each a length byte and that many bytes.
// Selector: value % 3 picks the plain R/W, the secured one with DES, or the
// secured one without; bit 7 adds faults.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "fuzz/fuzz_support.h"
#include "link/frame.h"
#include "platform/platform_fuzz.h"
#include "poll/settings.h"
#include "secure/des_card.h"
#include "sim/frame_parser.h"
#include "sim/options.h"
#include "sim/reader_model.h"

namespace {

using fuzzsupport::Bytes;
using fuzzsupport::Expect;

std::FILE *traceSink = nullptr;

std::vector<Bytes> SplitPieces(const std::uint8_t *data, std::size_t size) {
  std::vector<Bytes> pieces;
  std::size_t pos = 0;
  while (pos < size) {
    std::size_t length = data[pos];
    ++pos;
    length = std::min(length, size - pos);
    pieces.emplace_back(data + pos, data + pos + length);
    pos += length;
  }
  return pieces;
}

bool IsWellFormed(const Bytes &wire) {
  if (wire.size() == sizeof frame::kAck) {
    return std::memcmp(wire.data(), frame::kAck, sizeof frame::kAck) == 0;
  }
  if (wire.size() < frame::kOverhead) return false;
  Bytes expected(wire.size());
  frame::Encode(wire.data() + 5, static_cast<int>(wire.size() - frame::kOverhead), expected.data());
  return wire == expected;
}

bool SameFrames(const std::vector<sim::ParsedFrame> &a, const std::vector<sim::ParsedFrame> &b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (a[i].checksumOk != b[i].checksumOk || a[i].data != b[i].data) return false;
  }
  return true;
}

std::unique_ptr<sim::ReaderModel> MakeReader(std::uint8_t selector) {
  sim::SimOptions options;  // the simulator's default keys and card
  options.secured = selector % 3 != 0;
  options.desEnabled = selector % 3 == 1;
  return sim::MakeReaderModel(options);
}

void Run(std::uint8_t selector, const std::vector<Bytes> &pieces) {
  std::unique_ptr<sim::ReaderModel> reader = MakeReader(selector);
  sim::CardSchedule cards;
  Expect(cards.Parse("oo.o"), "a card pattern");
  sim::FaultPlan plan;
  bool faulty = selector & 0x80;
  if (faulty) {
    for (const char *fault : {"bad-checksum@2", "short@3", "wrong-code@c2", "no-ack@x2",
                              "wrong-mac@4", "wrong-counter@5", "wrong-auth@c3"}) {
      Expect(plan.Add(fault).empty(), "a known fault");
    }
  }
  sim::Simulator simulator(*reader, cards, plan, traceSink);
  sim::FrameParser inPieces;
  sim::FrameParser whole;
  std::vector<sim::ParsedFrame> framesInPieces;
  Bytes stream;
  for (const Bytes &piece : pieces) {
    std::vector<sim::ParsedFrame> frames = inPieces.Feed(piece.data(), piece.size());
    framesInPieces.insert(framesInPieces.end(), frames.begin(), frames.end());
    stream.insert(stream.end(), piece.begin(), piece.end());
    for (const sim::Output &output : simulator.OnInput(piece.data(), piece.size())) {
      Expect(faulty || IsWellFormed(output.bytes), "the R/W sends well-formed frames");
    }
  }
  for (const sim::ParsedFrame &frame : framesInPieces) {
    Expect(frame.data.size() <= frame::kMaxData, "a frame holds at most 255 bytes");
  }
  Expect(SameFrames(framesInPieces, whole.Feed(stream.data(), stream.size())),
         "the frames do not depend on how the bytes were cut");
}

// A seed from what a host sends: each of its writes is one piece.
Bytes PiecesOf(std::uint8_t selector, const std::vector<Bytes> &writes) {
  Bytes input{selector};
  for (const Bytes &write : writes) {
    for (std::size_t i = 0; i < write.size(); i += 255) {
      std::size_t n = std::min<std::size_t>(255, write.size() - i);
      input.push_back(static_cast<std::uint8_t>(n));
      input.insert(input.end(), write.begin() + i, write.begin() + i + n);
    }
  }
  return input;
}

Bytes FrameOf(const Bytes &data) {
  Bytes out(data.size() + frame::kOverhead);
  frame::Encode(data.data(), static_cast<int>(data.size()), out.data());
  return out;
}

// What kestrow's session writes to the secured simulated R/W: authentication,
// polls and close.
std::vector<Bytes> SecuredSessionWrites(bool desEnabled) {
  std::unique_ptr<sim::ReaderModel> reader = MakeReader(desEnabled ? 1 : 2);
  sim::CardSchedule cards;
  sim::FaultPlan plan;
  sim::Simulator simulator(*reader, cards, plan, nullptr);
  fuzzsupport::RecordingFarEnd farEnd(simulator);
  std::vector<Bytes> writes;
  platform::fuzz::Reset(0);
  farEnd.Attach();
  {
    secure::CDesCard card("COM1", 115200, 8, 0, 0, 50, 50, 1024);
    card.SetPlainMode(!desEnabled);
    ReaderSettings settings;
    SetDefaultReaderSettings(settings);
    Expect(card.Authenticate(settings.Ka, settings.Kb) == 0, "the seed session authenticates");
    std::uint8_t cardId[8];
    Expect(card.PollCard(0, cardId) == 0, "the seed session finds a card");
    Expect(card.PollCard(0, cardId) == 0, "the seed session finds a card again");
    Expect(card.CloseSession() == 0, "the seed session closes");
  }
  Bytes all = platform::fuzz::Written();
  platform::fuzz::Reset(0);
  // Every command is one frame; cut the stream at frame ends.
  for (std::size_t pos = 0; pos + 5 <= all.size();) {
    std::size_t end = pos + all[pos + 3] + frame::kOverhead;
    writes.emplace_back(all.begin() + pos, all.begin() + std::min(end, all.size()));
    pos = end;
  }
  return writes;
}

// Writes a seed after running it once.
void WriteSeed(const char *folder, const std::string &name, const Bytes &input) {
  Run(input[0], SplitPieces(input.data() + 1, input.size() - 1));
  fuzzsupport::WriteSeed(folder, name, input);
}

void WriteSeeds(const char *folder) {
  const Bytes open = FrameOf({0x62, 0x21, 0x25, 0xF0});
  const Bytes poll = FrameOf({0x5C, 0x06, 0x00, 0xFF, 0xFF, 0x00, 0x00});
  const Bytes close = FrameOf({0x54});
  WriteSeed(folder, "plain", PiecesOf(0, {open, poll, poll, close}));
  Bytes noisy{0x13, 0x00};
  noisy.insert(noisy.end(), poll.begin(), poll.end());
  noisy.insert(noisy.end(), {0x00, 0x00, 0xFF, 0x05, 0x01, 0x00});
  WriteSeed(folder, "plain-noise", PiecesOf(0x80, {open, noisy, {0x00}, poll}));
  WriteSeed(folder, "secured-des", PiecesOf(1, SecuredSessionWrites(true)));
  WriteSeed(folder, "secured-plain", PiecesOf(2, SecuredSessionWrites(false)));
  WriteSeed(folder, "secured-faults", PiecesOf(0x81, SecuredSessionWrites(true)));
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  fuzzsupport::WriteSeedsIfAsked(WriteSeeds);
  // Tracing decodes (and decrypts) every frame: worth running, not keeping.
  traceSink = std::fopen("/dev/null", "w");
  Expect(traceSink != nullptr, "/dev/null opens");
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  if (size == 0) return 0;
  Run(data[0], SplitPieces(data + 1, size - 1));
  return 0;
}
