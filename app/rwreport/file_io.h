// rwreport's standard output, checked to the end. Its inputs are read
// through report/input_files.h, the page replaced through platform/files.h.
#pragma once

#include <string>

// Writes `text` to standard output; false with the reason when the write
// fails.
bool WriteStandardOutput(const std::string &text, std::string *error);

// Flushes and closes standard output: errors of buffered writes show only
// here. False with the reason.
bool CloseStandardOutput(std::string *error);
