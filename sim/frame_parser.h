// Splits the byte stream from the host into frames. Garbage, broken length
// checksums and cut-off frames are skipped by resynchronising on the next
// start code (00h FFh).
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace sim {

using Bytes = std::vector<std::uint8_t>;

struct ParsedFrame {
  bool checksumOk;
  Bytes data;
};

class FrameParser {
 public:
  std::vector<ParsedFrame> Feed(const std::uint8_t *bytes, std::size_t count);
  void Reset() { buffer_.clear(); }

 private:
  Bytes buffer_;
};

}  // namespace sim
