// The steps of replacing a file that differ by platform, for files.cpp:
// each backend (files_posix.cpp, files_win32.cpp) defines them.
#pragma once

#include <cstdio>
#include <string>

namespace platform::native {

// The file that a replacement of `path` writes: the one a link names.
std::string ReplacementTarget(const std::string &path);
// True for a regular file or a name not yet taken: what is replaced through
// a new file beside it.
bool IsRegularOrAbsent(const std::string &path);
// A new file beside `path`, created exclusively, open for writing bytes;
// nullptr (errno set) when none can be made.
std::FILE *CreateBeside(const std::string &path, std::string *temporary);
// The file's data forced to the disk.
bool FlushToDisk(std::FILE *file);
// Renames `from` over `to`, replacing it; false with the system's reason.
bool MoveOver(const std::string &from, const std::string &to, std::string *reason);

}  // namespace platform::native
