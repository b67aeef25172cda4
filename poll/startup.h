// The start-up both tools share, up to the connection: idle priority, stop
// handlers, default settings, the empty line, the command line, the banner,
// and the console made ready for key presses.
#pragma once

#include "poll/options.h"
#include "poll/settings.h"

// Returns false when the program is to exit at once (usage, version or a
// command-line error already printed).
bool StartTool(int argc, char **argv, RunSettings &settings, const ToolTexts &texts);
