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
// output and error go to `outputPath`, a new file (an existing one is never
// overwritten), or, when `outputPath` is empty, where ours go. With
// `ownGroup` the child runs in a process group of its own, without our
// console's Ctrl-C: we stop it in order ourselves. Should we end abnormally,
// the child ends too: SIGTERM on Linux (its orderly stop), at once on Windows
// (a job closed with us). Returns false, with the system's reason, when it
// could not be started.
bool StartChild(const std::string &program, const std::vector<std::string> &args,
                const std::string &outputPath, bool ownGroup, Child *child, std::string *error);
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
// The path of the executable `name` in `folder` or on the PATH, or "".
std::string FindProgram(const std::string &name, const std::string &folder);
char PathSeparator();

bool PathExists(const std::string &path);
// A device path in the one form two names of the same device share: links
// resolved on POSIX (when it exists), capitals on Windows.
std::string CanonicalDevice(const std::string &device);
// Creates the folder; an existing folder is fine. False with the reason.
bool MakeFolder(const std::string &path, std::string *error);

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
