// The simulated R/W between the byte stream and a reader model: frames in,
// ACK and response frames out, with the planned faults applied.
#pragma once

#include <cstdio>
#include <vector>

#include "sim/frame_parser.h"
#include "sim/reader_model.h"
#include "sim/schedule.h"
#include "sim/soak_plan.h"

namespace sim {

// Bytes to send after a pause. Endless output is sent again and again, the
// pause apart, for as long as the simulator runs.
struct Output {
  int delayMs;
  Bytes bytes;
  bool endless = false;
};

class Simulator {
 public:
  Simulator(ReaderModel &model, CardSchedule &cards, const FaultPlan &plan, std::FILE *trace,
            FlapPlan flap = {})
      : model_(model), cards_(cards), plan_(plan), trace_(trace), flap_(flap) {}
  // The R/W's answers to bytes from the host that arrive `now` ms after the
  // simulator's start (which the card's drift and the flap look at).
  std::vector<Output> OnInput(const std::uint8_t *bytes, std::size_t count, SimMs now = 0);
  // The line went away: a frame half received is lost with it.
  void LineLost() { parser_ = FrameParser{}; }

 private:
  std::vector<Output> OnFrame(const Bytes &data, SimMs now);
  static void AddOutput(std::vector<Output> &outputs, int delayMs, const Bytes &bytes,
                        int trickleMs);
  void Trace(const char *direction, const Bytes &data, const std::string &note);
  void TraceFrame(const char *direction, const Bytes &data, bool fromHost);

  ReaderModel &model_;
  CardSchedule &cards_;
  const FaultPlan &plan_;
  std::FILE *trace_;
  FlapPlan flap_;
  FrameParser parser_;
  int counts_[3] = {0, 0, 0};  // polls, connections, closes
};

}  // namespace sim
