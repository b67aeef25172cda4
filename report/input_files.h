// The inputs of a report, read as rwreport takes them: a file, or standard
// input for "-", in parts (a log as a stream, a result file whole), and the
// identity of an input however it is named.
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
  [[nodiscard]] bool Open(const std::string &path, std::string *error);
  // Appends up to `limit` bytes to `text` (0: to the end). False with the
  // reason.
  [[nodiscard]] bool Read(std::size_t limit, std::string *text, std::string *error);
  std::FILE *Stream() const { return f_; }

 private:
  std::string path_;
  std::FILE *f_ = nullptr;
};

// The identity of the file `path` names, of standard input for "-". False
// when it does not exist or cannot be examined.
bool IdentifyInput(const std::string &path, platform::FileIdentity *identity);
