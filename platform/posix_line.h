// Line settings of a POSIX serial device. Kept apart from the rest of the
// POSIX layer because the interface that sets arbitrary baud rates on Linux
// (<asm/termbits.h>) cannot share a translation unit with <termios.h>.
#pragma once

#include "platform.h"

namespace platform::posix {

// The device's complete terminal settings, saved at open and put back at
// close. Large enough for every platform's record.
struct LineSnapshot {
  alignas(8) unsigned char bytes[256];
};

bool SaveLine(int fd, LineSnapshot *snapshot);
bool RestoreLine(int fd, const LineSnapshot &snapshot);
// Raw mode with the speed, format and flow control of `line`. The speed is
// set exactly or the call fails.
bool ApplyLine(int fd, const LineState &line);
bool ReadLine(int fd, LineState *line);

}  // namespace platform::posix
