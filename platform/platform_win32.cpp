// Windows backend of the platform layer: the Win32 comm calls themselves,
// QueryPerformanceCounter for the millisecond clock, the console through the
// C runtime's key test and a console control handler.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
// clang-format off: mmsystem.h needs the types of windows.h
#include <mmsystem.h>
// clang-format on
#include <conio.h>
#include <io.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "platform.h"
#include "shared_rules.h"
#include "win32_error.h"

namespace platform {
namespace {

// An open port: its handle and the line record it had before it was opened,
// written back when it is closed.
struct Win32Port {
  HANDLE handle;
  DCB savedLine;
};

Win32Port *AsPort(PortHandle port) { return static_cast<Win32Port *>(port); }

// Sleep rounds up to the system timer tick (about 15.6 ms) unless a finer
// tick is asked for; the 4 ms pause after each attempt needs 1 ms. The
// request holds for the life of the process.
class TimerResolution {
 public:
  TimerResolution() : active_(timeBeginPeriod(1) == TIMERR_NOERROR) {}
  ~TimerResolution() {
    if (active_) timeEndPeriod(1);
  }

 private:
  bool active_;
};
const TimerResolution timerResolution;

// Set when the stoppable section takes a stop request, so that a pause in
// progress ends at once. Auto-reset: it wakes one wait.
const HANDLE stopEvent = CreateEventA(nullptr, FALSE, FALSE, nullptr);

// The monotonic millisecond clock: GetTickCount moves in 16 ms steps; the
// performance counter is fine-grained.
std::int64_t NowMs() {
  static const LONGLONG frequency = [] {
    LARGE_INTEGER f;
    QueryPerformanceFrequency(&f);
    return f.QuadPart;
  }();
  LARGE_INTEGER now;
  QueryPerformanceCounter(&now);
  return static_cast<std::int64_t>(now.QuadPart / frequency * 1000 +
                                   now.QuadPart % frequency * 1000 / frequency);
}

// Moves the named bits of our flag word into the DCB's bit fields and back.
// The flag word follows the DCB's own bit layout.
std::uint32_t FlagsOf(const DCB &dcb) {
  std::uint32_t flags = 0;
  flags |= dcb.fBinary ? kLineBinary : 0;
  flags |= dcb.fParity ? 1u << 1 : 0;
  flags |= dcb.fOutxCtsFlow ? kLineOutxCtsFlow : 0;
  flags |= dcb.fOutxDsrFlow ? kLineOutxDsrFlow : 0;
  flags |= static_cast<std::uint32_t>(dcb.fDtrControl) << kLineDtrControlShift;
  flags |= dcb.fDsrSensitivity ? 1u << 6 : 0;
  flags |= dcb.fTXContinueOnXoff ? 1u << 7 : 0;
  flags |= dcb.fOutX ? kLineOutX : 0;
  flags |= dcb.fInX ? kLineInX : 0;
  flags |= dcb.fErrorChar ? 1u << 10 : 0;
  flags |= dcb.fNull ? 1u << 11 : 0;
  flags |= static_cast<std::uint32_t>(dcb.fRtsControl) << kLineRtsControlShift;
  flags |= dcb.fAbortOnError ? 1u << 14 : 0;
  return flags;
}

void ApplyFlags(std::uint32_t flags, DCB *dcb) {
  dcb->fBinary = (flags & kLineBinary) != 0;
  dcb->fParity = (flags & (1u << 1)) != 0;
  dcb->fOutxCtsFlow = (flags & kLineOutxCtsFlow) != 0;
  dcb->fOutxDsrFlow = (flags & kLineOutxDsrFlow) != 0;
  dcb->fDtrControl = (flags >> kLineDtrControlShift) & kLineControlField;
  dcb->fDsrSensitivity = (flags & (1u << 6)) != 0;
  dcb->fTXContinueOnXoff = (flags & (1u << 7)) != 0;
  dcb->fOutX = (flags & kLineOutX) != 0;
  dcb->fInX = (flags & kLineInX) != 0;
  dcb->fErrorChar = (flags & (1u << 10)) != 0;
  dcb->fNull = (flags & (1u << 11)) != 0;
  dcb->fRtsControl = (flags >> kLineRtsControlShift) & kLineControlField;
  dcb->fAbortOnError = (flags & (1u << 14)) != 0;
}

// Why the last port operation failed, for LastPortError.
std::string lastPortError;

// The system's text for the calling thread's last error.
void NoteLastError() {
  DWORD error = GetLastError();
  lastPortError = SystemMessage(error);
  // A port another program holds is refused as access denied.
  if (error == ERROR_ACCESS_DENIED)
    lastPortError = "in use by another program (" + lastPortError + ")";
}

// Lets queued output (the close command, written just before the port is
// purged and closed) leave the device, for a bounded time: throwing it away
// would leave the R/W in its session. True when it left.
constexpr ULONGLONG kOutputDrainLimitMs = 200;

bool WaitForOutputSent(HANDLE handle) {
  // A coarse bound: the tick's 16 ms steps do not matter here.
  ULONGLONG end = GetTickCount64() + kOutputDrainLimitMs;
  DWORD errors = 0;
  COMSTAT status{};
  while (ClearCommError(handle, &errors, &status) && status.cbOutQue > 0) {
    if (GetTickCount64() >= end) return false;
    ::Sleep(1);
  }
  return true;
}

bool ReadDcb(HANDLE handle, DCB *dcb) {
  std::memset(dcb, 0, sizeof *dcb);
  dcb->DCBlength = sizeof *dcb;
  return GetCommState(handle, dcb) != 0;
}

}  // namespace

bool DevicePathFor(const char *portPath, char *device, int size) {
  // Windows opens COM1 to COM9 by bare name, but COM10 and above only in the
  // device namespace, so every bare name is put there; a path is kept.
  rules::PortName port = rules::ReadPortName(portPath, "/\\:");
  int n = port.kind == rules::PortName::Kind::kPath
              ? std::snprintf(device, size, "%s", port.name)
              : std::snprintf(device, size, "\\\\.\\%s", port.name);
  return n >= 0 && n < size;
}

std::vector<std::string> SearchPortNames(int maxPorts) { return rules::ComPortNames(maxPorts); }

// Port names and file paths keep the limits the settings were made for;
// Windows names fit them.
int MaxPortNameLength() { return 58; }

std::string LastPortError() { return lastPortError; }

int MaxFilePathLength() { return 259; }

PortHandle OpenPort(const char *path) {
  char device[MAX_PATH];
  if (!DevicePathFor(path, device, sizeof device)) {
    lastPortError = "the name is too long";
    return nullptr;
  }
  HANDLE handle = CreateFileA(device, GENERIC_READ | GENERIC_WRITE, 0 /* exclusive */, nullptr,
                              OPEN_EXISTING, 0, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    NoteLastError();
    return nullptr;
  }
  DCB line;
  if (!ReadDcb(handle, &line)) {
    // A file or another device opens too, but has no line settings.
    lastPortError = "not a serial device";
    CloseHandle(handle);
    return nullptr;
  }
  return new Win32Port{handle, line};
}

bool SetupQueues(PortHandle port, std::uint32_t inputSize, std::uint32_t outputSize) {
  return port && SetupComm(AsPort(port)->handle, inputSize, outputSize) != 0;
}

bool SetEventMask(PortHandle port, std::uint32_t mask) {
  return port && SetCommMask(AsPort(port)->handle, mask) != 0;
}

bool PurgePort(PortHandle port, std::uint32_t flags) {
  if (!port) return false;
  // Output that has left the driver's queue is not purged: what a purge
  // could still reach is only what the far end has not taken in yet (under
  // Wine the purge flushes the host's terminal, whose far end may not have
  // read the close command written a moment ago).
  constexpr std::uint32_t kOutput = kPurgeTxAbort | kPurgeTxClear;
  if ((flags & kOutput) && WaitForOutputSent(AsPort(port)->handle)) flags &= ~kOutput;
  return flags == 0 || PurgeComm(AsPort(port)->handle, flags) != 0;
}

bool GetTimeouts(PortHandle port, CommTimeouts *timeouts) {
  COMMTIMEOUTS t{};
  if (!port || !GetCommTimeouts(AsPort(port)->handle, &t)) return false;
  *timeouts =
      CommTimeouts{t.ReadIntervalTimeout, t.ReadTotalTimeoutMultiplier, t.ReadTotalTimeoutConstant,
                   t.WriteTotalTimeoutMultiplier, t.WriteTotalTimeoutConstant};
  return true;
}

bool SetTimeouts(PortHandle port, const CommTimeouts &timeouts) {
  COMMTIMEOUTS t{timeouts.readInterval, timeouts.readTotalMultiplier, timeouts.readTotalConstant,
                 timeouts.writeTotalMultiplier, timeouts.writeTotalConstant};
  return port && SetCommTimeouts(AsPort(port)->handle, &t) != 0;
}

bool GetLineState(PortHandle port, LineState *line) {
  DCB dcb;
  if (!port || !ReadDcb(AsPort(port)->handle, &dcb)) return false;
  line->length = dcb.DCBlength;
  line->baudRate = dcb.BaudRate;
  line->flags = FlagsOf(dcb);
  line->byteSize = dcb.ByteSize;
  line->parity = dcb.Parity;
  line->stopBits = dcb.StopBits;
  return true;
}

bool SetLineState(PortHandle port, const LineState &line) {
  // The whole record is read back first, so that every field the line
  // record does not carry (XON/XOFF limits and characters, the event
  // character, ...) keeps the value the driver has.
  DCB dcb;
  if (!port || !ReadDcb(AsPort(port)->handle, &dcb)) return false;
  dcb.BaudRate = line.baudRate;
  ApplyFlags(line.flags, &dcb);
  dcb.ByteSize = line.byteSize;
  dcb.Parity = line.parity;
  dcb.StopBits = line.stopBits;
  if (SetCommState(AsPort(port)->handle, &dcb)) return true;
  NoteLastError();
  return false;
}

bool ClearLineErrors(PortHandle port) {
  DWORD errors = 0;
  COMSTAT status;
  return port && ClearCommError(AsPort(port)->handle, &errors, &status) != 0;
}

namespace {

bool ReadOnce(HANDLE handle, void *buffer, std::uint32_t count, std::uint32_t *received) {
  DWORD got = 0;
  if (!ReadFile(handle, buffer, count, &got, nullptr)) {
    NoteLastError();
    return false;
  }
  *received = got;
  return true;
}

}  // namespace

bool ReadPort(PortHandle handle, void *buffer, std::uint32_t count, std::uint32_t *received) {
  *received = 0;
  Win32Port *port = AsPort(handle);
  if (!port) return false;
  return ReadOnce(port->handle, buffer, count, received);
}

bool WritePort(PortHandle port, const void *buffer, std::uint32_t count, std::uint32_t *written) {
  *written = 0;
  DWORD put = 0;
  if (!port) return false;
  if (!WriteFile(AsPort(port)->handle, buffer, count, &put, nullptr)) {
    NoteLastError();
    return false;
  }
  *written = put;
  return true;
}

bool ClosePort(PortHandle handle) {
  Win32Port *port = AsPort(handle);
  if (!port) return false;
  SetCommState(port->handle, &port->savedLine);
  bool closed = CloseHandle(port->handle) != 0;
  delete port;
  return closed;
}

std::string HostName() {
  char name[256] = "";
  DWORD size = sizeof name;
  if (!GetComputerNameExA(ComputerNameDnsHostname, name, &size)) return "";
  return std::string(name, size);
}

ClockReading ReadClock() {
  std::int64_t now = NowMs();
  return ClockReading{now / 1000, static_cast<std::uint16_t>(now % 1000)};
}

void Sleep(int milliseconds) {
  // A stop request taken while the pause lasts ends it; an event left over
  // from an earlier section does not shorten it.
  std::int64_t end = NowMs() + milliseconds;
  for (std::int64_t left = milliseconds; left > 0; left = end - NowMs()) {
    DWORD woken =
        stopEvent ? WaitForSingleObject(stopEvent, static_cast<DWORD>(left)) : WAIT_FAILED;
    if (woken == WAIT_TIMEOUT || (woken == WAIT_OBJECT_0 && StopRequested())) return;
    if (woken != WAIT_OBJECT_0) {  // no event to wait on: a plain pause
      ::Sleep(static_cast<DWORD>(left));
      return;
    }
  }
}

void SetIdlePriority() { SetPriorityClass(GetCurrentProcess(), IDLE_PRIORITY_CLASS); }

namespace {

// How long a close, logoff or shutdown event may hold the process while the
// polling loop ends in order; Windows ends the process some seconds after
// the event whatever the handler does.
constexpr int kOrderlyEndWaitMs = 4000;

// Runs on a thread of its own: it only sets the flag that the polling loop
// reads. Returning FALSE hands the event to the default handler, which ends
// the process at once.
BOOL WINAPI OnConsoleEvent(DWORD event) {
  if (!rules::TakeStopRequest()) return FALSE;
  SetEvent(stopEvent);
  if (event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT) return TRUE;
  // The process ends when this handler returns: give the loop the time to
  // print its summary, write its record and send the close command.
  for (int waited = 0; rules::InStoppableSection() && waited < kOrderlyEndWaitMs; waited += 10) {
    ::Sleep(10);
  }
  return TRUE;
}

bool StdinIsConsole() {
  DWORD mode = 0;
  return GetConsoleMode(GetStdHandle(STD_INPUT_HANDLE), &mode) != 0;
}

// Bytes of a redirected standard input that have not been read yet; end of
// input gives 0.
bool RedirectedInputWaiting() {
  HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
  switch (GetFileType(input)) {
    case FILE_TYPE_PIPE: {
      DWORD available = 0;
      return PeekNamedPipe(input, nullptr, 0, nullptr, &available, nullptr) && available > 0;
    }
    case FILE_TYPE_DISK: {
      LARGE_INTEGER size, position, zero{};
      return GetFileSizeEx(input, &size) &&
             SetFilePointerEx(input, zero, &position, FILE_CURRENT) &&
             position.QuadPart < size.QuadPart;
    }
    default: return false;
  }
}

}  // namespace

// Ports are handles, not descriptors: a closed standard stream cannot be
// taken by one.
void GuardStandardDescriptors() {}

void PrepareConsoleInput() {
  // The console reports single key presses to _kbhit in its default mode;
  // only the stopping key has to be discarded at exit.
  static bool registered = false;
  if (!registered && StdinIsConsole()) std::atexit(RestoreConsoleInput);
  registered = true;
}

void RestoreConsoleInput() {
  // The key that stopped the tool is discarded, so that it does not reach
  // the next command line.
  if (StdinIsConsole()) FlushConsoleInputBuffer(GetStdHandle(STD_INPUT_HANDLE));
}

bool KeyPressed() { return StdinIsConsole() ? _kbhit() != 0 : RedirectedInputWaiting(); }

bool ErrorSharesOutput() {
  HANDLE output = GetStdHandle(STD_OUTPUT_HANDLE);
  HANDLE error = GetStdHandle(STD_ERROR_HANDLE);
  if (!output || !error || output == INVALID_HANDLE_VALUE || error == INVALID_HANDLE_VALUE) {
    return false;
  }
  if (output == error) return true;
  DWORD mode = 0;
  if (GetConsoleMode(output, &mode) && GetConsoleMode(error, &mode)) return true;  // one console
  // One file under two handles; a pipe has no identity to compare.
  BY_HANDLE_FILE_INFORMATION a{}, b{};
  return GetFileInformationByHandle(output, &a) && GetFileInformationByHandle(error, &b) &&
         a.dwVolumeSerialNumber == b.dwVolumeSerialNumber && a.nFileIndexHigh == b.nFileIndexHigh &&
         a.nFileIndexLow == b.nFileIndexLow;
}

void InstallStopHandlers() { SetConsoleCtrlHandler(OnConsoleEvent, TRUE); }

namespace {

HANDLE HandleOf(std::FILE *file) { return reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file))); }

}  // namespace

std::int64_t FileLength(std::FILE *file) {
  HANDLE handle = HandleOf(file);
  LARGE_INTEGER size;
  if (handle == INVALID_HANDLE_VALUE || GetFileType(handle) != FILE_TYPE_DISK ||
      !GetFileSizeEx(handle, &size)) {
    return -1;
  }
  return size.QuadPart;
}

bool TruncateFile(std::FILE *file, std::int64_t length) {
  HANDLE handle = HandleOf(file);
  LARGE_INTEGER target;
  target.QuadPart = length;
  if (SetFilePointerEx(handle, target, nullptr, FILE_BEGIN) && SetEndOfFile(handle)) return true;
  errno = EIO;
  return false;
}

bool SyncFileData(std::FILE *file) { return FlushFileBuffers(HandleOf(file)) != 0; }

}  // namespace platform
