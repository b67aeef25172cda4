// Appending records to a file whole or not at all: a disk that fills up
// (or a file size limit) may take only part of a write, and a partial
// record would spoil the file for every reader, the runs before it too.
#pragma once

#include <cstddef>
#include <cstdio>
#include <string>

struct AppendOutcome {
  bool written = true;     // every byte went out
  std::string error;       // the system's reason when not
  bool cutBack = false;    // a partial record was removed again
  bool cutFailed = false;  // a partial record could not be removed
  std::string cutError;    // the system's reason for that
};

// Writes `size` bytes to the end of `file`, an unbuffered stream opened for
// appending. After a short or failed write, a regular file is cut back:
// to its length before the write, or with `keepWholeLines` to the end of
// the last whole line that went out. Pipes and terminals cannot be cut.
AppendOutcome AppendWhole(std::FILE *file, const char *data, std::size_t size, bool keepWholeLines);
