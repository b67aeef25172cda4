#include <io.h>
#include <windows.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/process.h"
#include "platform/win32_error.h"

#ifndef ENABLE_VIRTUAL_TERMINAL_PROCESSING
#define ENABLE_VIRTUAL_TERMINAL_PROCESSING 0x0004
#endif

namespace platform {

namespace {

// One argument as the C runtime's command-line parser reads it back.
void AppendQuoted(const std::string &arg, std::string *line) {
  if (!arg.empty() && arg.find_first_of(" \t\"") == std::string::npos) {
    *line += arg;
    return;
  }
  *line += '"';
  std::size_t backslashes = 0;
  for (char c : arg) {
    if (c == '\\') {
      ++backslashes;
      continue;
    }
    // Backslashes before a quote are doubled, and the quote escaped.
    line->append(c == '"' ? 2 * backslashes + 1 : backslashes, '\\');
    backslashes = 0;
    *line += c;
  }
  line->append(2 * backslashes, '\\');
  *line += '"';
}

void CloseIfOpen(HANDLE handle) {
  if (handle && handle != INVALID_HANDLE_VALUE) CloseHandle(handle);
}

// A job holding every child, closed by the system when we end: children of
// ours that an abnormal end left behind would keep polling their R/Ws. (Our
// orderly stop is the key press on each child's input.) nullptr when the
// system refuses one; the children then run outside it.
HANDLE ChildrenJob() {
  static HANDLE job = [] {
    HANDLE created = CreateJobObjectA(nullptr, nullptr);
    if (!created) return static_cast<HANDLE>(nullptr);
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
    limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
    if (!SetInformationJobObject(created, JobObjectExtendedLimitInformation, &limits,
                                 sizeof limits)) {
      CloseHandle(created);
      return static_cast<HANDLE>(nullptr);
    }
    return created;
  }();
  return job;
}

// The command line of `args`, the program first.
std::string CommandLine(const std::vector<std::string> &args) {
  std::string line;
  for (const std::string &arg : args) {
    if (!line.empty()) line += ' ';
    AppendQuoted(arg, &line);
  }
  return line;
}

// An existing regular file for a child's output, appended to and never
// reached through a link (a reparse point is opened as itself and refused).
HANDLE OpenChildOutput(const std::string &path, SECURITY_ATTRIBUTES *inheritable,
                       std::string *reason) {
  HANDLE output =
      CreateFileA(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, inheritable,
                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (output == INVALID_HANDLE_VALUE) {
    *reason = path + ": " + SystemMessage(GetLastError());
    return INVALID_HANDLE_VALUE;
  }
  BY_HANDLE_FILE_INFORMATION info;
  if (!GetFileInformationByHandle(output, &info) ||
      (info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT))) {
    *reason = path + ": not a regular file";
    CloseHandle(output);
    return INVALID_HANDLE_VALUE;
  }
  return output;
}

}  // namespace

bool StartChild(const std::string &program, const std::vector<std::string> &args,
                const std::string &outputPath, bool ownGroup, Child *child, std::string *error) {
  SECURITY_ATTRIBUTES inheritable{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  HANDLE output = INVALID_HANDLE_VALUE;
  if (!outputPath.empty()) {
    std::string reason;
    output = OpenChildOutput(outputPath, &inheritable, &reason);
    if (output == INVALID_HANDLE_VALUE) {
      *error = program + ": " + reason;
      return false;
    }
  }
  // Standard input is a pipe that we keep open: a byte on it stops a tool.
  HANDLE inputRead = nullptr, inputWrite = nullptr;
  if (!CreatePipe(&inputRead, &inputWrite, &inheritable, 0) ||
      !SetHandleInformation(inputWrite, HANDLE_FLAG_INHERIT, 0)) {
    *error = program + ": " + SystemMessage(GetLastError());
    CloseIfOpen(output);
    CloseIfOpen(inputRead);
    CloseIfOpen(inputWrite);
    return false;
  }
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = inputRead;
  startup.hStdOutput = outputPath.empty() ? GetStdHandle(STD_OUTPUT_HANDLE) : output;
  startup.hStdError = outputPath.empty() ? GetStdHandle(STD_ERROR_HANDLE) : output;
  std::vector<std::string> words{program};
  words.insert(words.end(), args.begin(), args.end());
  std::string line = CommandLine(words);
  // A child of its own group gets a console of its own, so that our
  // console's Ctrl-C and Ctrl-Break do not reach it.
  // Suspended until it is in the job, so that nothing it starts escapes it.
  DWORD flags = (ownGroup ? CREATE_NEW_PROCESS_GROUP | CREATE_NO_WINDOW : 0) | CREATE_SUSPENDED;
  PROCESS_INFORMATION info{};
  BOOL started = CreateProcessA(program.c_str(), &line[0], nullptr, nullptr, TRUE, flags, nullptr,
                                nullptr, &startup, &info);
  DWORD reason = GetLastError();
  CloseIfOpen(output);
  CloseHandle(inputRead);
  if (!started) {
    CloseHandle(inputWrite);
    *error = program + ": " + SystemMessage(reason);
    return false;
  }
  if (HANDLE job = ChildrenJob()) AssignProcessToJobObject(job, info.hProcess);
  ResumeThread(info.hThread);
  CloseHandle(info.hThread);
  child->id = info.dwProcessId;
  child->handle = reinterpret_cast<std::intptr_t>(info.hProcess);
  child->input = reinterpret_cast<std::intptr_t>(inputWrite);
  child->running = true;
  child->exitStatus = -1;
  return true;
}

// CreateProcess takes at most 32767 characters with the final NUL.
constexpr std::size_t kLongestCommandLine = 32766;

bool ArgumentsFit(const std::vector<std::string> &args, std::string *why) {
  std::size_t length = CommandLine(args).size();
  if (length <= kLongestCommandLine) return true;
  *why = "a command line of " + std::to_string(length) + " characters (at most " +
         std::to_string(kLongestCommandLine) + ")";
  return false;
}

void AskChildToStop(const Child &child) {
  if (!child.running || !child.input) return;
  DWORD written = 0;
  WriteFile(reinterpret_cast<HANDLE>(child.input), "q", 1, &written, nullptr);
}

namespace {

void Release(Child *child, DWORD code) {
  child->running = false;
  child->exitStatus = static_cast<int>(code);
  CloseHandle(reinterpret_cast<HANDLE>(child->handle));
  if (child->input) CloseHandle(reinterpret_cast<HANDLE>(child->input));
  child->handle = 0;
  child->input = 0;
}

}  // namespace

bool ChildEnded(Child *child) {
  if (!child->running) return true;
  HANDLE process = reinterpret_cast<HANDLE>(child->handle);
  if (WaitForSingleObject(process, 0) != WAIT_OBJECT_0) return false;
  DWORD code = 0;
  if (!GetExitCodeProcess(process, &code)) code = static_cast<DWORD>(-1);
  Release(child, code);
  return true;
}

void KillChild(Child *child) {
  if (!child->running) return;
  HANDLE process = reinterpret_cast<HANDLE>(child->handle);
  TerminateProcess(process, 1);
  WaitForSingleObject(process, 10000);
  DWORD code = 1;
  GetExitCodeProcess(process, &code);
  Release(child, code);
}

std::string OwnProgramFolder() {
  char path[MAX_PATH + 1];
  DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return "";
  std::string text(path, length);
  std::size_t slash = text.find_last_of("\\/");
  return slash == std::string::npos ? "" : text.substr(0, slash);
}

std::string ExecutableName(const std::string &name) { return name + ".exe"; }

namespace {

bool IsFolderOrLink(DWORD attributes) {
  return (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) != 0;
}

// A folder of the PATH that names one place wherever we are: a drive and
// its root (C:\...), or a network share (\\server\...).
bool IsAbsoluteFolder(const std::string &dir) {
  if (dir.size() >= 3 && std::isalpha(static_cast<unsigned char>(dir[0])) && dir[1] == ':')
    return dir[2] == '\\' || dir[2] == '/';
  return dir.size() >= 2 && (dir[0] == '\\' || dir[0] == '/') && (dir[1] == '\\' || dir[1] == '/');
}

bool IsProgramFile(const std::string &path) {
  DWORD attributes = GetFileAttributesA(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

}  // namespace

std::string FindProgram(const std::string &name, const std::string &folder) {
  if (!folder.empty() && IsProgramFile(folder + "\\" + name)) return folder + "\\" + name;
  const char *path = std::getenv("PATH");
  std::string list = path ? path : "";
  for (std::size_t start = 0; start <= list.size();) {
    std::size_t end = list.find(';', start);
    if (end == std::string::npos) end = list.size();
    std::string dir = list.substr(start, end - start);
    start = end + 1;
    if (!dir.empty() && dir.front() == '"' && dir.back() == '"' && dir.size() >= 2)
      dir = dir.substr(1, dir.size() - 2);
    // The current folder is never searched: "", ".", "bin" are wherever we are.
    if (!IsAbsoluteFolder(dir)) continue;
    std::string candidate = dir + (dir.back() == '\\' || dir.back() == '/' ? "" : "\\") + name;
    if (IsProgramFile(candidate)) return candidate;
  }
  return "";
}

char PathSeparator() { return '\\'; }

bool PathExists(const std::string &path) {
  return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool DevicePresent(const std::string &device) {
  // A port in the device namespace (\\.\COM5, //./COM5) is there when the
  // system has a device of that name.
  std::string name = device;
  for (const char *prefix : {"\\\\.\\", "//.//", "//./"}) {
    if (name.rfind(prefix, 0) != 0) continue;
    name = name.substr(std::strlen(prefix));
    break;
  }
  if (name.find_first_of("\\/") == std::string::npos) {
    // Only a name the system says it does not know is missing; any other
    // failure leaves it to the tool's start to tell.
    char target[1024];
    return QueryDosDeviceA(name.c_str(), target, sizeof target) != 0 ||
           GetLastError() != ERROR_FILE_NOT_FOUND;
  }
  return PathExists(device);
}

std::string DeviceKey(const std::string &device) {
  std::string upper = device;
  for (char &c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return upper;
}

bool CreateNewFile(const std::string &path, std::string *error) {
  HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_NEW,
                            FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    *error = path + ": " + SystemMessage(GetLastError());
    return false;
  }
  CloseHandle(file);
  return true;
}

bool IsPlainFile(const std::string &path) {
  DWORD attributes = GetFileAttributesA(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && !IsFolderOrLink(attributes);
}

bool MakeFolder(const std::string &path, std::string *error) {
  if (CreateDirectoryA(path.c_str(), nullptr)) return true;
  DWORD reason = GetLastError();
  DWORD attributes = GetFileAttributesA(path.c_str());
  if (reason == ERROR_ALREADY_EXISTS && attributes != INVALID_FILE_ATTRIBUTES &&
      (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
    return true;
  }
  *error = path + ": " + SystemMessage(reason);
  return false;
}

NewFolder MakeNewFolder(const std::string &path, std::string *error) {
  if (CreateDirectoryA(path.c_str(), nullptr)) return NewFolder::kMade;
  DWORD reason = GetLastError();
  if (reason == ERROR_ALREADY_EXISTS || reason == ERROR_FILE_EXISTS) return NewFolder::kTaken;
  *error = path + ": " + SystemMessage(reason);
  return NewFolder::kFailed;
}

bool OutputIsTerminal() {
  HANDLE output = GetStdHandle(STD_OUTPUT_HANDLE);
  DWORD mode = 0;
  if (!GetConsoleMode(output, &mode)) return false;
  // Without the control sequences the view falls back to plain lines.
  return SetConsoleMode(output,
                        mode | ENABLE_PROCESSED_OUTPUT | ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0;
}

int TerminalColumns() {
  CONSOLE_SCREEN_BUFFER_INFO info;
  if (!GetConsoleScreenBufferInfo(GetStdHandle(STD_OUTPUT_HANDLE), &info)) return 0;
  return info.srWindow.Right - info.srWindow.Left + 1;
}

int TerminalRows() {
  CONSOLE_SCREEN_BUFFER_INFO info;
  if (!GetConsoleScreenBufferInfo(GetStdHandle(STD_OUTPUT_HANDLE), &info)) return 0;
  return info.srWindow.Bottom - info.srWindow.Top + 1;
}

void Pause(int milliseconds) { ::Sleep(static_cast<DWORD>(milliseconds)); }

std::FILE *OpenNotInherited(const std::string &path) {
  std::FILE *file = std::fopen(path.c_str(), "rb");
  if (file) {
    HANDLE handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file)));
    SetHandleInformation(handle, HANDLE_FLAG_INHERIT, 0);
  }
  return file;
}

bool SeekFile(std::FILE *file, std::int64_t offset) {
  return _fseeki64(file, offset, SEEK_SET) == 0;
}

double OwnProcessorSeconds() {
  FILETIME created, exited, kernel, user;
  if (!GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user)) return 0;
  auto seconds = [](const FILETIME &t) {
    return static_cast<double>((static_cast<unsigned long long>(t.dwHighDateTime) << 32) |
                               t.dwLowDateTime) /
           1e7;
  };
  return seconds(kernel) + seconds(user);
}

}  // namespace platform
