// Child processes, folders and the console's width, for a program that runs
// other programs of the project (rwstation) and shows their progress. Kept
// apart from platform.h, whose calls serve the polling tools.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace platform {

// A started program. Filled by StartChild; `exitStatus` is known once
// ChildEnded returned true.
struct Child {
  std::int64_t id = 0;       // the process id
  std::intptr_t handle = 0;  // Windows: the process handle
  std::intptr_t input = 0;   // Windows: our end of its standard input
  bool running = false;
  int exitStatus = -1;  // the exit code, or 128 + the signal that ended it
};

// Starts `program` (a path) with `args`. Standard input is empty; standard
// output and error are appended to `outputPath`, a regular file that must
// exist already (CreateNewFile makes one) and is never reached through a
// symbolic link, or, when `outputPath` is empty, go where ours go. With
// `ownGroup` the child runs in a process group of its own, without our
// console's Ctrl-C: we stop it in order ourselves. Should we end abnormally,
// the child ends too: SIGTERM on Linux (its orderly stop), at once on Windows
// (a job closed with us). Returns false when it could not be started, with
// a reason that names the program and the system's reason.
[[nodiscard]] bool StartChild(const std::string &program, const std::vector<std::string> &args,
                              const std::string &outputPath, bool ownGroup, Child *child,
                              std::string *error);
// Whether `args` (the program's path first) fit in one command line as the
// system takes it: the argument list's limit on POSIX (with our environment,
// which the child inherits), 32767 characters on Windows. False with the
// reason when they do not.
[[nodiscard]] bool ArgumentsFit(const std::vector<std::string> &args, std::string *why);
// Asks a child that is a polling tool for its orderly stop: what Ctrl-C
// does on POSIX (SIGINT); on Windows, a byte on its standard input, which
// the tools take as a key press (no console event can reach one group of a
// console-less child reliably).
void AskChildToStop(const Child &child);
// True once the child has ended; never waits.
bool ChildEnded(Child *child);
// Ends a child at once and waits for it.
void KillChild(Child *child);

// The folder of our own executable ("" when unknown), for finding the other
// programs installed beside it.
std::string OwnProgramFolder();
// `name` as an executable's file name: with ".exe" on Windows.
std::string ExecutableName(const std::string &name);
// The path of the executable `name` in `folder`, else in the folders of
// the PATH (the system's default path when PATH is unset or empty), or "".
// Relative folders of the PATH (an empty one, ".") are passed over: a
// program is never taken from wherever we were started.
std::string FindProgram(const std::string &name, const std::string &folder);
char PathSeparator();

// True when anything has the name `path`: a file, a folder, a device, or a
// symbolic link, also one that leads nowhere.
bool PathExists(const std::string &path);
// True when the device `device` is there now, following links (a name under
// /dev/serial/by-id/ is a link that comes and goes with its adapter).
bool DevicePresent(const std::string &device);
// A key that every name of one device shares: its device number for a
// device (also under a link or a bind mount), the file's identity for
// another file, the name itself when nothing is there; on Windows the name
// in capitals.
std::string DeviceKey(const std::string &device);
// Creates a new, empty file for us to write. Any name already taken is
// refused, a symbolic link too (dangling or not), so that nothing is ever
// written through a link we did not make. False with the system's reason.
[[nodiscard]] bool CreateNewFile(const std::string &path, std::string *error);
// True when `path` is itself a regular file, not a link to one.
bool IsPlainFile(const std::string &path);
// Creates the folder; an existing folder is fine. False with the reason.
[[nodiscard]] bool MakeFolder(const std::string &path, std::string *error);
enum class NewFolder { kMade, kTaken, kFailed };
// Creates a folder that nobody else has: kTaken when the name exists already
// in any form (another program may have just made it), kFailed with the
// reason for any other failure.
[[nodiscard]] NewFolder MakeNewFolder(const std::string &path, std::string *error);

// True when standard output is a terminal (on Windows a console, switched
// to understanding the cursor control sequences).
bool OutputIsTerminal();
// The terminal's width in characters and height in lines, 0 when unknown.
int TerminalColumns();
int TerminalRows();

// Pauses for `milliseconds`, whatever signals arrive meanwhile.
void Pause(int milliseconds);

// Moves a file's read position to `offset` bytes from its start, also
// beyond 2 GB. Also makes data written by another process since the last
// read at the end visible, which some C runtimes do not do by themselves.
bool SeekFile(std::FILE *file, std::int64_t offset);
// Opens a file for reading ("rb") that the children started later do not
// inherit. Returns nullptr when it cannot be opened (errno says why).
std::FILE *OpenNotInherited(const std::string &path);

// The processor time this process has used so far, in seconds.
double OwnProcessorSeconds();

}  // namespace platform
