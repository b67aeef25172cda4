// A private folder for the files a test program writes: made with mkdtemp
// on first use, removed with everything in it when the program ends, so
// that no test writes to a fixed name and copies of the suite can run at
// once.
#pragma once

#include <string>

// The path of `name` inside the program's private folder.
std::string ScratchPath(const std::string &name);
