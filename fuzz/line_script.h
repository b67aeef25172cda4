// The far end of the fuzzing line, played from a script: the bytes it sends,
// the pauses between them, and which of the host's writes each reply follows.
// The same encoding is read by the fuzz targets and written by the seed
// recorder, so the checked-in corpus always matches the targets.
//
// Script bytes, one operation after another:
//   00h-3Fh  (op + 1) bytes follow; they are sent as they are
//   40h-7Fh  a pause of ((op & 3Fh) << 8 | next byte) ms before what follows
//   80h-9Fh  what follows is sent after the host's next write
//   A0h      an acknowledgement frame
//   A1h      a byte N, then N data bytes: sent as a frame with good checksums
//   A2h      the host's next write takes no byte (it waits out its time-out)
//   A3h      a stop is requested (Ctrl-C) when what comes before is sent
//   A4h-FFh  the op byte itself is sent
// What comes before the first 80h-9Fh is on the line before the host writes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace fuzzline {

using Bytes = std::vector<std::uint8_t>;

constexpr std::uint8_t kOpRawLast = 0x3F;
constexpr std::uint8_t kOpPause = 0x40;
constexpr std::uint8_t kOpNextReply = 0x80;
constexpr std::uint8_t kOpAck = 0xA0;
constexpr std::uint8_t kOpFrame = 0xA1;
constexpr std::uint8_t kOpStallWrite = 0xA2;
constexpr std::uint8_t kOpStop = 0xA3;
constexpr int kMaxPauseMs = 0x3FFF;

struct Piece {
  std::int64_t pauseMs;
  Bytes bytes;
  bool stallNextWrite;
  bool stop;
};
using Reply = std::vector<Piece>;

class LineScript {
 public:
  LineScript(const std::uint8_t *data, std::size_t size);
  // Plays the script on the fuzzing line (after platform::fuzz::Reset):
  // reply 0 at once, reply k after the host's k-th write.
  void Attach();
  std::size_t ReplyCount() const { return replies_.size(); }

 private:
  void Release(std::size_t index);
  std::vector<Reply> replies_;
  std::size_t released_ = 0;
};

// Encodes a script.
class ScriptWriter {
 public:
  void Raw(const Bytes &bytes);
  void Pause(int ms);
  void NextReply() { text_.push_back(kOpNextReply); }
  void Ack() { text_.push_back(kOpAck); }
  void Frame(const Bytes &data);
  void StallWrite() { text_.push_back(kOpStallWrite); }
  void Stop() { text_.push_back(kOpStop); }
  // Bytes as the far end sent them: well-formed frames become frame
  // operations (so that mutations keep their checksums), the rest raw bytes.
  void Sent(const Bytes &wire);
  const Bytes &Text() const { return text_; }

 private:
  Bytes text_;
};

}  // namespace fuzzline
