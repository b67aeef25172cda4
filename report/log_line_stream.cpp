#include "report/log_line_stream.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace logread {

LineStream::LineStream(std::FILE *in, std::string_view prefix, std::size_t chunkSize,
                       std::size_t maxLine)
    : in_(in),
      chunkSize_(std::max<std::size_t>(chunkSize, 1)),
      maxLine_(std::max(maxLine, chunkSize_)),
      buffer_(std::max(chunkSize_, prefix.size()) + 1),
      end_(prefix.size()),
      atEnd_(in == nullptr) {
  std::copy(prefix.begin(), prefix.end(), buffer_.begin());
}

bool LineStream::Next(std::string_view *line) {
  for (;;) {
    const char *start = buffer_.data() + begin_;
    std::size_t available = end_ - begin_;
    const char *newline = static_cast<const char *>(std::memchr(start, '\n', available));
    if (newline || (atEnd_ && available > 0)) {
      std::size_t length = newline ? static_cast<std::size_t>(newline - start) : available;
      begin_ += newline ? length + 1 : length;
      if (length > 0 && start[length - 1] == '\r') --length;
      lineAt_ = static_cast<std::size_t>(start - buffer_.data());
      buffer_[lineAt_ + length] = '\0';
      *line = std::string_view(start, length);
      ++lineNumber_;
      return true;
    }
    if (atEnd_ || !Fill()) return false;
  }
}

// Moves the unfinished line to the front and reads behind it, growing the
// buffer only for a line longer than it.
bool LineStream::Fill() {
  std::copy(buffer_.begin() + static_cast<std::ptrdiff_t>(begin_),
            buffer_.begin() + static_cast<std::ptrdiff_t>(end_), buffer_.begin());
  end_ -= begin_;
  begin_ = 0;
  if (end_ == buffer_.size() - 1) {
    if (buffer_.size() - 1 >= maxLine_) {
      error_ = "line " + std::to_string(lineNumber_ + 1) + " is longer than " +
               std::to_string(maxLine_) + " bytes";
      return false;
    }
    buffer_.resize(std::min((buffer_.size() - 1) * 2, maxLine_) + 1);
  }
  errno = 0;
  std::size_t got = std::fread(buffer_.data() + end_, 1, buffer_.size() - 1 - end_, in_);
  if (got == 0 && std::ferror(in_)) {
    error_ = std::string("cannot read: ") + std::strerror(errno ? errno : EIO);
    return false;
  }
  end_ += got;
  atEnd_ = got == 0;
  return true;
}

}  // namespace logread
