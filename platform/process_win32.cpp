#include <io.h>
#include <windows.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>

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

}  // namespace

bool StartChild(const std::string &program, const std::vector<std::string> &args,
                const std::string &outputPath, bool ownGroup, Child *child, std::string *error) {
  SECURITY_ATTRIBUTES inheritable{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  HANDLE output = INVALID_HANDLE_VALUE;
  if (!outputPath.empty()) {
    output = CreateFileA(outputPath.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inheritable,
                         CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (output == INVALID_HANDLE_VALUE) {
      *error = outputPath + ": " + SystemMessage(GetLastError());
      return false;
    }
  }
  // Standard input is a pipe that we keep open: a byte on it stops a tool.
  HANDLE inputRead = nullptr, inputWrite = nullptr;
  if (!CreatePipe(&inputRead, &inputWrite, &inheritable, 0) ||
      !SetHandleInformation(inputWrite, HANDLE_FLAG_INHERIT, 0)) {
    *error = SystemMessage(GetLastError());
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
  std::string line;
  AppendQuoted(program, &line);
  for (const std::string &arg : args) {
    line += ' ';
    AppendQuoted(arg, &line);
  }
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

std::string FindProgram(const std::string &name, const std::string &folder) {
  if (!folder.empty() && PathExists(folder + "\\" + name)) return folder + "\\" + name;
  char found[MAX_PATH + 1];
  DWORD length = SearchPathA(nullptr, name.c_str(), nullptr, MAX_PATH, found, nullptr);
  return length > 0 && length < MAX_PATH ? std::string(found, length) : "";
}

char PathSeparator() { return '\\'; }

bool PathExists(const std::string &path) {
  return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::string CanonicalDevice(const std::string &device) {
  std::string upper = device;
  for (char &c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return upper;
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
