// The simulated R/W between the byte stream and a reader model: frames in,
// ACK and response frames out, with the planned faults applied.
#pragma once

#include <cstdio>
#include <vector>

#include "sim/frame_parser.h"
#include "sim/reader_model.h"
#include "sim/schedule.h"

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
  Simulator(ReaderModel &model, CardSchedule &cards, const FaultPlan &plan, std::FILE *trace)
      : model_(model), cards_(cards), plan_(plan), trace_(trace) {}
  std::vector<Output> OnInput(const std::uint8_t *bytes, std::size_t count);

 private:
  std::vector<Output> OnFrame(const Bytes &data);
  static void AddOutput(std::vector<Output> &outputs, int delayMs, const Bytes &bytes,
                        int trickleMs);
  void Trace(const char *direction, const Bytes &data, const std::string &note);
  void TraceFrame(const char *direction, const Bytes &data, bool fromHost);

  ReaderModel &model_;
  CardSchedule &cards_;
  const FaultPlan &plan_;
  std::FILE *trace_;
  FrameParser parser_;
  int counts_[3] = {0, 0, 0};  // polls, connections, closes
};

}  // namespace sim
