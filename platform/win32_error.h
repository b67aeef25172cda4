// The Windows backends' one way of putting a system error code into words,
// for messages: the system's text without its line end and final full stop
// (as the C library's texts on POSIX), or "error N" when it has none.
#pragma once

#include <string>

namespace platform {

// `code` is a Win32 error code (DWORD), as GetLastError returns it.
std::string SystemMessage(unsigned long code);

}  // namespace platform
