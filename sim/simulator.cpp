#include "sim/simulator.h"

#include "link/frame.h"

namespace sim {

std::vector<Output> Simulator::OnInput(const std::uint8_t *bytes, std::size_t count, SimMs now) {
  std::vector<Output> outputs;
  for (const ParsedFrame &frame : parser_.Feed(bytes, count)) {
    if (!frame.checksumOk) {
      Trace("<-", frame.data, "bad data checksum, ignored");
      continue;
    }
    std::vector<Output> more = OnFrame(frame.data, now);
    outputs.insert(outputs.end(), more.begin(), more.end());
  }
  return outputs;
}

std::vector<Output> Simulator::OnFrame(const Bytes &data, SimMs now) {
  Target target = Target::kPoll;
  FaultSet faults;
  int number = 0;
  bool classified = model_.Classify(data, &target);
  if (classified) {
    number = ++counts_[static_cast<int>(target)];
    faults = plan_.For(target, number);
  }
  TraceFrame("<-", data, true);
  if (classified && target == Target::kPoll && flap_.Silent(now)) {
    Trace("--", {}, "silent: the line flaps (fault)");
    return {};
  }
  if (faults.Has(Fault::kNoAck)) {
    Trace("--", {}, "no ACK (fault)");
    return {};
  }
  if (faults.Has(Fault::kBabble)) {
    Trace("--", {}, "babbling from now on (fault)");
    return {{0, Bytes(256, 0x55), true}};
  }
  std::vector<Output> outputs;
  if (faults.Has(Fault::kGarbage)) {
    Trace("--", {}, "noise before the ACK (fault)");
    outputs.push_back({0, Bytes{0x13, 0xFF, 0x00, 0x7E, 0x42, 0xA5, 0x00, 0xFF, 0x21}});
  }
  AddOutput(outputs, faults.ackDelayMs, Bytes(frame::kAck, frame::kAck + 6), faults.trickleMs);
  Trace("->", {}, "ACK");
  bool card = target == Target::kPoll && number > 0 && cards_.Present(number, now);
  std::optional<Bytes> answer = model_.Answer(data, card, faults);
  if (faults.Has(Fault::kSecondAck)) {
    Trace("->", {}, "second ACK instead of the response (fault)");
    outputs.push_back({faults.responseDelayMs, Bytes(frame::kAck, frame::kAck + 6)});
    return outputs;
  }
  if (!answer || faults.Has(Fault::kNoResponse)) {
    Trace("--", {}, answer ? "no response (fault)" : "no response");
    return outputs;
  }
  Bytes response = *answer;
  if (faults.Has(Fault::kWrongCode) && !response.empty()) response[0] ^= 0x40;
  if (faults.Has(Fault::kShortAnswer)) response.resize(response.size() / 2);
  Bytes wire(response.size() + frame::kOverhead);
  frame::Encode(response.data(), static_cast<int>(response.size()), wire.data());
  if (faults.Has(Fault::kBadChecksum)) wire[wire.size() - 2] ^= 0x01;
  TraceFrame("->", response, false);
  AddOutput(outputs, faults.responseDelayMs, wire, faults.trickleMs);
  return outputs;
}

// Outputs `bytes` after `delayMs`, or one byte at a time, `trickleMs` apart.
void Simulator::AddOutput(std::vector<Output> &outputs, int delayMs, const Bytes &bytes,
                          int trickleMs) {
  if (trickleMs <= 0) {
    outputs.push_back({delayMs, bytes});
    return;
  }
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    outputs.push_back({i == 0 ? delayMs + trickleMs : trickleMs, Bytes{bytes[i]}});
  }
}

void Simulator::TraceFrame(const char *direction, const Bytes &data, bool fromHost) {
  if (trace_) Trace(direction, data, model_.Describe(data, fromHost));  // decoding may decrypt
}

void Simulator::Trace(const char *direction, const Bytes &data, const std::string &note) {
  if (!trace_) return;
  std::fprintf(trace_, "%s %s%s%s\n", direction, HexText(data).c_str(), data.empty() ? "" : "  ",
               note.c_str());
  std::fflush(trace_);
}

}  // namespace sim
