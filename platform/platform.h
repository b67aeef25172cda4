// The operating-system layer. Everything above this header is free of OS
// headers: the serial port calls mirror the comm services of the Windows
// API (open, queue sizes, event mask, purge, time-outs, line record, error
// clearing, read, write, close), so that the Windows backend passes them on
// to the real calls and the POSIX backend maps each to its counterpart.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace platform {

// An open port, or nullptr when none is open.
using PortHandle = void *;

constexpr std::uint32_t kMaxDword = 0xFFFFFFFFu;

// Event mask bit: a character was received.
constexpr std::uint32_t kEvRxChar = 0x0001;

// Purge flags.
constexpr std::uint32_t kPurgeTxAbort = 0x0001;
constexpr std::uint32_t kPurgeRxAbort = 0x0002;
constexpr std::uint32_t kPurgeTxClear = 0x0004;
constexpr std::uint32_t kPurgeRxClear = 0x0008;

// Driver time-outs of a port, in milliseconds. A read with readInterval
// kMaxDword, multiplier 0 and constant T returns at once with what is
// waiting, or waits up to T ms for a byte and returns with 0 bytes.
struct CommTimeouts {
  std::uint32_t readInterval;
  std::uint32_t readTotalMultiplier;
  std::uint32_t readTotalConstant;
  std::uint32_t writeTotalMultiplier;
  std::uint32_t writeTotalConstant;
};

// Bits of the line record's flag word (the layout of the Windows DCB).
constexpr std::uint32_t kLineBinary = 1u << 0;
constexpr std::uint32_t kLineOutxCtsFlow = 1u << 2;
constexpr std::uint32_t kLineOutxDsrFlow = 1u << 3;
constexpr std::uint32_t kLineDtrControlShift = 4;  // two bits
constexpr std::uint32_t kLineOutX = 1u << 8;
constexpr std::uint32_t kLineInX = 1u << 9;
constexpr std::uint32_t kLineRtsControlShift = 12;  // two bits
constexpr std::uint32_t kLineControlField = 3;      // the two bits, unshifted
// Modem line control values of the two-bit fields.
constexpr std::uint32_t kLineControlDisable = 0;
constexpr std::uint32_t kLineControlEnable = 1;
constexpr std::uint32_t kLineControlHandshake = 2;

// Parity and stop-bit codes of the line record.
constexpr std::uint8_t kNoParity = 0;
constexpr std::uint8_t kOddParity = 1;
constexpr std::uint8_t kEvenParity = 2;
constexpr std::uint8_t kOneStopBit = 0;
constexpr std::uint8_t kTwoStopBits = 2;

// The line record: speed, character format and flow-control modes.
struct LineState {
  std::uint32_t length;  // record size as the Windows API expects it
  std::uint32_t baudRate;
  std::uint32_t flags;
  std::uint8_t byteSize;
  std::uint8_t parity;
  std::uint8_t stopBits;
};

// Opens a port by path for exclusive reading and writing. Returns nullptr
// when the port is missing, busy, or not a serial device.
PortHandle OpenPort(const char *path);
bool SetupQueues(PortHandle port, std::uint32_t inputSize, std::uint32_t outputSize);
bool SetEventMask(PortHandle port, std::uint32_t mask);
// Throws away received input, and output that has not left: queued output
// first gets a bounded time (200 ms) to leave, and only what is then still
// queued is thrown away, never what has left the driver but may not yet
// have reached the far end.
bool PurgePort(PortHandle port, std::uint32_t flags);
bool GetTimeouts(PortHandle port, CommTimeouts *timeouts);
bool SetTimeouts(PortHandle port, const CommTimeouts &timeouts);
bool GetLineState(PortHandle port, LineState *line);
bool SetLineState(PortHandle port, const LineState &line);
bool ClearLineErrors(PortHandle port);
// Reads up to `count` bytes under the port's read time-outs. Returns false
// when the read fails (including the far end having gone away). A stop
// request (see StopRequested) ends its wait early, with the bytes so far.
// On Windows a read cannot be interrupted: it ends when its time-outs say,
// so a stop is seen within 100 ms only under read totals of at most 100 ms
// (the link layer's time-outs, which it checks at compile time).
bool ReadPort(PortHandle port, void *buffer, std::uint32_t count, std::uint32_t *received);
// Writes up to `count` bytes under the port's write time-outs.
bool WritePort(PortHandle port, const void *buffer, std::uint32_t count, std::uint32_t *written);
// Closes the port and puts back the line settings it had before it was
// opened. Returns true when the close succeeded.
bool ClosePort(PortHandle port);

// Why the last OpenPort, ReadPort or WritePort that failed did so, in the
// system's words (a refused open names the device's group when the user is
// not in it; a busy port says it is in use). Empty before any failure.
std::string LastPortError();

// Maps a port path as the tools build it ("//.//" and a name) to the device
// the platform opens: a name with a path separator is a path, as given
// (relative ones from the working directory); COMn is the system's n-th
// serial port; any other bare name is a device of the system's device
// folder (/dev on POSIX). Exposed for tests and messages.
// Returns false when the result does not fit `size` bytes.
bool DevicePathFor(const char *portPath, char *device, int size);

// The port names a search for the R/W tries, in order, at most `maxPorts`
// of them; each becomes a port path as "//.//" followed by the name. On
// Windows these are COM1 to COM20. On Linux they are the full paths of the
// serial devices present: USB serial and ACM devices first (in order of
// name and number), then ttyS ports with a UART behind them; never the
// kernel's active console, which a search must not reconfigure or write to.
std::vector<std::string> SearchPortNames(int maxPorts);

// The longest port name (after "//.//") and result file path the command
// line accepts: the platform's path limit (58 and 259 characters on Windows,
// where the names are short).
int MaxPortNameLength();
int MaxFilePathLength();

// A reading of the millisecond clock: seconds and milliseconds within the
// second. The clock is monotonic, so a change of the wall clock neither
// stretches nor cuts a time-out.
struct ClockReading {
  std::int64_t seconds;
  std::uint16_t milliseconds;
};
ClockReading ReadClock();

// Pauses; a stop request (see StopRequested) ends the pause early.
void Sleep(int milliseconds);

// This computer's name on the network ("bench-3"); empty when the system
// does not tell it.
std::string HostName();

// Lowers the process to the lowest scheduling priority.
void SetIdlePriority();

// Gives standard input, output and error a harmless target where one is
// missing, so that no file or port the tool opens takes its place (marks
// written to the R/W, the R/W's bytes taken for key presses). The first
// thing a tool does.
void GuardStandardDescriptors();

// Console input. PrepareConsoleInput first guards the standard descriptors,
// then puts an interactive console into the mode in which single key
// presses can be seen without echo, and arranges for it to be put back on
// every exit path, a signal included. A process that does not own the
// console (a background job) leaves it alone and sees no key presses.
void PrepareConsoleInput();
void RestoreConsoleInput();
// True when a key press (or, for non-interactive input, a byte) is waiting.
// The key is not consumed.
bool KeyPressed();

// True when standard error and standard output lead to one place (one
// terminal or console, one file), so that what is written to the two
// interleaves there. Pipes count only on POSIX (one pipe for both).
bool ErrorSharesOutput();

// Interrupt (Ctrl-C) and termination requests and a lost console (a closed
// standard output is not a signal: its writes fail). Outside a stoppable section they end the
// program at once, with the console restored and the open port released; inside one they only set a
// flag that StopRequested reports while the section lasts (and that cuts the section's waits
// short), so the section can end in order.
void InstallStopHandlers();
void SetStoppable(bool stoppable);
bool StopRequested();

// Files the tools append to (the result file, the event log), so that a
// record is written whole or not at all: the length of an open file (-1
// when it is not a regular file, e.g. a pipe or a terminal, or the length
// is unknown), cutting it back to `length` bytes after a failed append
// (false, with errno set, when that fails), and forcing its data to the disk.
std::int64_t FileLength(std::FILE *file);
bool TruncateFile(std::FILE *file, std::int64_t length);
bool SyncFileData(std::FILE *file);

}  // namespace platform
