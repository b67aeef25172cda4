// The lines of a file read in chunks, so that a log of any size is read in
// the memory of one chunk (and of its longest line).
#pragma once

#include <cstddef>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

namespace logread {

class LineStream {
 public:
  static constexpr std::size_t kChunkSize = 1 << 20;
  // A line longer than this is refused: no log line comes near it.
  static constexpr std::size_t kMaxLine = 16 << 20;

  // Reads `prefix` (bytes already taken from the input), then `in` when it
  // is not null.
  LineStream(std::FILE *in, std::string_view prefix, std::size_t chunkSize = kChunkSize,
             std::size_t maxLine = kMaxLine);

  // The next line without its line end (LF or CR LF). Returns false at the
  // end of the input and on an error, which `Error` then describes.
  bool Next(std::string_view *line);
  // The line Next returned, writable and followed by a NUL byte (written
  // over its line end), until the next call of Next.
  char *MutableLine() { return buffer_.data() + lineAt_; }
  // The number of the line last returned, from 1.
  int LineNumber() const { return lineNumber_; }
  const std::string &Error() const { return error_; }

 private:
  bool Fill();

  std::FILE *in_;
  std::size_t chunkSize_;
  std::size_t maxLine_;
  std::vector<char> buffer_;  // one byte more than it fills, for the last NUL
  std::size_t begin_ = 0, end_ = 0;
  std::size_t lineAt_ = 0;
  bool atEnd_;
  int lineNumber_ = 0;
  std::string error_;
};

}  // namespace logread
