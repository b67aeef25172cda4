// Splits the byte stream from the host into frames. Garbage, broken length
// checksums and cut-off frames are skipped by resynchronising on the next
// start code (00h FFh).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace sim {

using Bytes = std::vector<std::uint8_t>;

// "01 2E 4C" for the trace.
std::string HexText(const Bytes &bytes);

struct ParsedFrame {
  bool checksumOk;
  Bytes data;
};

class FrameParser {
 public:
  std::vector<ParsedFrame> Feed(const std::uint8_t *bytes, std::size_t count);

 private:
  Bytes buffer_;
};

}  // namespace sim
