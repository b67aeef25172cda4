#include "sim/frame_parser.h"

#include "link/frame.h"
#include "link/hex_text.h"

namespace sim {

std::string HexText(const Bytes &bytes) { return hex::Format(bytes.data(), bytes.size()); }

std::vector<ParsedFrame> FrameParser::Feed(const std::uint8_t *bytes, std::size_t count) {
  buffer_.insert(buffer_.end(), bytes, bytes + count);
  std::vector<ParsedFrame> frames;
  for (;;) {
    std::size_t i = 0;
    while (i + 1 < buffer_.size() && !(buffer_[i] == 0x00 && buffer_[i + 1] == 0xFF)) ++i;
    if (i + 1 >= buffer_.size()) {
      // Keep a trailing 00h: it may begin the next start code.
      bool keepLast = !buffer_.empty() && buffer_.back() == 0x00;
      buffer_.erase(buffer_.begin(), buffer_.end() - (keepLast ? 1 : 0));
      break;
    }
    buffer_.erase(buffer_.begin(), buffer_.begin() + static_cast<std::ptrdiff_t>(i));
    if (buffer_.size() < 4) break;
    std::uint8_t length = buffer_[2];
    if (static_cast<std::uint8_t>(length + buffer_[3]) != 0) {
      buffer_.erase(buffer_.begin(), buffer_.begin() + 2);  // not a frame: look further on
      continue;
    }
    std::size_t end = 4u + length + 1u;  // data, then DCS; the postamble is not awaited
    if (buffer_.size() < end) break;
    const std::uint8_t *data = buffer_.data() + 4;
    bool ok = frame::DataChecksum(data, length) == buffer_[end - 1];
    frames.push_back({ok, Bytes(data, data + length)});
    buffer_.erase(buffer_.begin(), buffer_.begin() + static_cast<std::ptrdiff_t>(ok ? end : 2));
  }
  return frames;
}

}  // namespace sim
