#include "fuzz/line_script.h"

#include <algorithm>
#include <cstring>

#include "link/frame.h"
#include "platform/platform_fuzz.h"

namespace fuzzline {

namespace {

// Reads the operations from `data`, appending to the replies.
class Decoder {
 public:
  Decoder(const std::uint8_t *data, std::size_t size) : data_(data), size_(size) {}

  std::vector<Reply> Run() {
    std::vector<Reply> replies(1);
    std::int64_t pause = 0;
    while (pos_ < size_) {
      std::uint8_t op = data_[pos_++];
      Piece piece{pause, {}, false, false};
      if (op <= kOpRawLast) {
        piece.bytes = Take(op + 1u);
      } else if (op < kOpNextReply) {
        pause += ((op & 0x3F) << 8) | (pos_ < size_ ? data_[pos_++] : 0);
        continue;
      } else if (op < kOpAck) {
        replies.emplace_back();
        pause = 0;
        continue;
      } else if (op == kOpAck) {
        piece.bytes.assign(frame::kAck, frame::kAck + sizeof frame::kAck);
      } else if (op == kOpFrame) {
        piece.bytes = FrameOf(Take(pos_ < size_ ? data_[pos_++] : 0));
      } else if (op == kOpStallWrite) {
        piece.stallNextWrite = true;
      } else if (op == kOpStop) {
        piece.stop = true;
      } else {
        piece.bytes.push_back(op);
      }
      replies.back().push_back(piece);
      pause = 0;
    }
    return replies;
  }

 private:
  Bytes Take(std::size_t count) {
    count = std::min(count, size_ - pos_);
    Bytes out(data_ + pos_, data_ + pos_ + count);
    pos_ += count;
    return out;
  }

  static Bytes FrameOf(const Bytes &data) {
    Bytes out(data.size() + frame::kOverhead);
    frame::Encode(data.data(), static_cast<int>(data.size()), out.data());
    return out;
  }

  const std::uint8_t *data_;
  std::size_t size_;
  std::size_t pos_ = 0;
};

bool IsWellFormedFrame(const Bytes &wire) {
  if (wire.size() < frame::kOverhead || wire.size() > frame::kMaxFrame) return false;
  auto length = static_cast<std::uint8_t>(wire.size() - frame::kOverhead);
  Bytes expected(wire.size());
  frame::Encode(wire.data() + 5, length, expected.data());
  return wire == expected;
}

}  // namespace

LineScript::LineScript(const std::uint8_t *data, std::size_t size)
    : replies_(Decoder(data, size).Run()) {}

void LineScript::Attach() {
  released_ = 0;
  platform::fuzz::SetWriteHook([this](const std::uint8_t *, std::size_t) { Release(released_); });
  Release(0);
}

void LineScript::Release(std::size_t index) {
  released_ = index + 1;
  if (index >= replies_.size()) return;
  std::int64_t delay = 0;
  for (const Piece &piece : replies_[index]) {
    delay += piece.pauseMs;
    if (piece.stallNextWrite) platform::fuzz::StallWrites(1);
    if (piece.stop) platform::fuzz::RequestStop(delay);
    platform::fuzz::Arrive(delay, piece.bytes.data(), piece.bytes.size());
  }
}

void ScriptWriter::Raw(const Bytes &bytes) {
  for (std::size_t i = 0; i < bytes.size(); i += kOpRawLast + 1u) {
    std::size_t n = std::min<std::size_t>(bytes.size() - i, kOpRawLast + 1u);
    text_.push_back(static_cast<std::uint8_t>(n - 1));
    text_.insert(text_.end(), bytes.begin() + i, bytes.begin() + i + n);
  }
}

void ScriptWriter::Pause(int ms) {
  while (ms > 0) {
    int step = std::min(ms, kMaxPauseMs);
    text_.push_back(static_cast<std::uint8_t>(kOpPause | (step >> 8)));
    text_.push_back(static_cast<std::uint8_t>(step & 0xFF));
    ms -= step;
  }
}

void ScriptWriter::Frame(const Bytes &data) {
  text_.push_back(kOpFrame);
  text_.push_back(static_cast<std::uint8_t>(data.size()));
  text_.insert(text_.end(), data.begin(), data.end());
}

void ScriptWriter::Sent(const Bytes &wire) {
  if (wire.size() == sizeof frame::kAck &&
      std::memcmp(wire.data(), frame::kAck, sizeof frame::kAck) == 0) {
    Ack();
  } else if (IsWellFormedFrame(wire)) {
    Frame(Bytes(wire.begin() + 5, wire.end() - 2));
  } else {
    Raw(wire);
  }
}

}  // namespace fuzzline
