// Files a program reads and writes whole: the identity of a file however it
// is named, a file replaced whole or not at all, and standard input read as
// bytes. Kept apart from platform.h, whose calls serve the polling tools.
#pragma once

#include <string>

namespace platform {

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
// The file (or pipe, or terminal) standard input reads.
bool IdentifyStandardInput(FileIdentity *identity);

// Puts `text` in the file `path`. A regular file (or a name not yet taken)
// is written to a new file beside it, flushed to disk and renamed over it,
// so that a failed write leaves the old file as it was; a symbolic link
// stays and the file it names is replaced; anything else (a device, a pipe)
// is written directly. Returns false with the reason.
bool ReplaceFileWith(const std::string &path, const std::string &text, std::string *error);

// Standard input delivers its bytes as they are (Windows: no text mode).
void ReadStandardInputAsBytes();

// A write to a pipe whose reader went away fails (EPIPE) instead of ending
// the program by SIGPIPE, so that the program can report it as an output
// error and still finish what it writes elsewhere. Windows has no such
// signal: the write fails there anyway.
void LetWritesToClosedPipesFail();

}  // namespace platform
