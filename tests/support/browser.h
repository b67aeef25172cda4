// Headless Chromium for tests of the programs' pages.
#pragma once

#include <string>
#include <vector>

#include "tests/support/process.h"
#include "tests/support/scratch_dir.h"

// The chromium on the PATH; empty when there is none.
std::string FindChromium();

// Runs headless Chromium with its profile and home inside `dir`, quiet
// (no background traffic, no first-run work), in a 1200x1600 window unless
// `args` name another size.
RunResult RunChromium(const std::string &chromium, const ScratchDir &dir,
                      std::vector<std::string> args);
