// rwreport's files: inputs read whole (a file or standard input), the
// identity of a file however it is named, the page replaced whole or not
// at all, and standard output checked to the end.
#pragma once

#include <cstddef>
#include <cstdio>
#include <string>

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

// A file as the system knows it (device and inode, or on Windows volume and
// file index): two names of one file give equal identities.
struct FileIdentity {
  unsigned long long device = 0;
  unsigned long long file = 0;
  bool operator==(const FileIdentity &other) const {
    return device == other.device && file == other.file;
  }
  bool operator<(const FileIdentity &other) const {
    return device != other.device ? device < other.device : file < other.file;
  }
};

// False when the file does not exist or cannot be examined.
bool IdentifyFile(const std::string &path, FileIdentity *identity);

// Puts `text` in the file `path`. A regular file (or a name not yet taken)
// is written to a new file beside it, flushed to disk and renamed over it,
// so that a failed write leaves the old file as it was; anything else (a
// device, a pipe) is written directly. Returns false with the reason.
bool ReplaceFileWith(const std::string &path, const std::string &text, std::string *error);

// Writes `text` to standard output; false with the reason when the write
// fails.
bool WriteStandardOutput(const std::string &text, std::string *error);

// Flushes and closes standard output: errors of buffered writes show only
// here. False with the reason.
bool CloseStandardOutput(std::string *error);
