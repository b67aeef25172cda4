// The rules of the platform layer that do not depend on the system, used by
// every backend (POSIX, Windows, fuzzing), so that each one, and the fuzz
// targets built on the fuzzing one, follows the same stop rule and reads
// port names the same way. Only the backends include this header.
#pragma once

#include <string>
#include <vector>

namespace platform::rules {

// A stop request (a signal, a console event, a scripted Ctrl-C) has come.
// Inside the stoppable section it is noted, for StopRequested, and true is
// returned: the wait in progress may end early. Outside it false is
// returned: the backend ends the program at once. Safe in a signal handler
// and on another thread.
bool TakeStopRequest();
// Whether the polling loop is in its stoppable section now.
bool InStoppableSection();
// Forgets every stop request and leaves the section (the fuzzing backend's
// fresh start).
void ResetStopState();

// What a port path as the tools build it ("//.//" and the name the user
// gave) stands for.
struct PortName {
  enum class Kind {
    kPath,     // contains a path separator: a path, as given (relative ones
               // from the working directory)
    kComPort,  // COM1 to COM9999
    kDevice,   // any other bare name: a device of the system's device folder
  };
  Kind kind;
  const char *name;  // the name after the "//.//" prefix
  int comNumber;     // n of COMn, else 0
};
// `separators` are the characters that make a name a path on the system.
PortName ReadPortName(const char *portPath, const char *separators);

// The port names a search tries where the system does not list its serial
// devices: COM1 to COM20, at most `maxPorts` of them.
std::vector<std::string> ComPortNames(int maxPorts);

}  // namespace platform::rules
