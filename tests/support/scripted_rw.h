// A scripted R/W on the master side of a pseudo-terminal, for tests of the
// reader layers: it takes the bytes of each command and answers as told.
#pragma once

#include <chrono>
#include <thread>
#include <utility>
#include <vector>

#include "tests/support/end_to_end.h"
#include "tests/support/pty_pair.h"

// One step of the R/W: take `expect` bytes (if any), then send each reply
// piece after its pause.
struct Step {
  std::size_t expect;
  std::vector<std::pair<int, Bytes>> replies;  // pause in ms, bytes
};

class ScriptedRw {
 public:
  ScriptedRw(PtyPair &pty, std::vector<Step> steps)
      : pty_(pty), thread_([this, steps] { Run(steps); }) {}
  ~ScriptedRw() { thread_.join(); }
  Bytes Received() {
    thread_.join();
    thread_ = std::thread([] {});
    return received_;
  }

 private:
  void Run(const std::vector<Step> &steps) {
    for (const Step &step : steps) {
      if (step.expect) {
        Bytes in = pty_.Read(step.expect, 2000);
        received_.insert(received_.end(), in.begin(), in.end());
      }
      for (const auto &[pause, bytes] : step.replies) {
        std::this_thread::sleep_for(std::chrono::milliseconds(pause));
        pty_.Write(bytes);
      }
    }
  }
  PtyPair &pty_;
  Bytes received_;
  std::thread thread_;
};

// The frame that carries `data`, built here independently of the code
// under test.
inline Bytes FrameOf(const Bytes &data) {
  Bytes out = {0x00, 0x00, 0xFF, static_cast<std::uint8_t>(data.size()),
               static_cast<std::uint8_t>(0x100 - data.size())};
  unsigned sum = 0;
  for (std::uint8_t b : data) {
    out.push_back(b);
    sum += b;
  }
  out.push_back(static_cast<std::uint8_t>(0x100 - (sum & 0xFF)));
  out.push_back(0x00);
  return out;
}

// The ACK followed by the response frame carrying `data`.
inline Bytes AckAndResponse(const Bytes &data) {
  Bytes out = kAckFrame;
  Bytes response = FrameOf(data);
  out.insert(out.end(), response.begin(), response.end());
  return out;
}
