// rwreport's files: inputs read whole (a file or standard input), the
// identity of an input however it is named, and standard output checked to
// the end. The page is replaced through platform/files.h.
#pragma once

#include <cstddef>
#include <cstdio>
#include <string>

#include "platform/files.h"

// "-" names standard input.
constexpr char kStandardInput[] = "-";

// An input opened for reading: a file, or standard input for "-". Read in
// parts, so that a log is taken as a stream and a result file whole.
class InputFile {
 public:
  InputFile() = default;
  ~InputFile();
  InputFile(const InputFile &) = delete;
  InputFile &operator=(const InputFile &) = delete;

  // Returns false with the system's reason in `error`.
  bool Open(const std::string &path, std::string *error);
  // Appends up to `limit` bytes to `text` (0: to the end). False with the
  // reason.
  bool Read(std::size_t limit, std::string *text, std::string *error);
  std::FILE *Stream() const { return f_; }

 private:
  std::string path_;
  std::FILE *f_ = nullptr;
};

// The identity of the file `path` names, of standard input for "-". False
// when it does not exist or cannot be examined.
bool IdentifyInput(const std::string &path, platform::FileIdentity *identity);

// Writes `text` to standard output; false with the reason when the write
// fails.
bool WriteStandardOutput(const std::string &text, std::string *error);

// Flushes and closes standard output: errors of buffered writes show only
// here. False with the reason.
bool CloseStandardOutput(std::string *error);
