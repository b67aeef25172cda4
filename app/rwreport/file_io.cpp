#include "app/rwreport/file_io.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

#ifdef _WIN32
#include <io.h>
#include <windows.h>
#else
#include <unistd.h>
#include <climits>
#include <cstdlib>
#endif

namespace {

std::string Reason() { return std::strerror(errno); }

#ifdef _WIN32
std::wstring Wide(const std::string &text) {
  // Command-line arguments reach main() in the ANSI code page.
  int n = MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, nullptr, 0);
  std::wstring out(n > 0 ? n : 1, L'\0');
  if (n > 0) MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, &out[0], n);
  out.resize(out.size() - 1);
  return out;
}

std::string SystemMessage(DWORD code) {
  char text[256] = "";
  FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0, text,
                 sizeof text, nullptr);
  std::string out = text;
  while (!out.empty() && (out.back() == '\n' || out.back() == '\r' || out.back() == '.')) {
    out.pop_back();
  }
  return out;
}

bool IsRegularOrAbsent(const std::string &path) {
  DWORD attributes = GetFileAttributesW(Wide(path).c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return true;
  return (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0 && path.rfind("\\\\.\\", 0) != 0;
}

// The temporary file beside `path`, created exclusively.
std::FILE *CreateBeside(const std::string &path, std::string *temporary) {
  for (int attempt = 0; attempt < 100; ++attempt) {
    *temporary =
        path + ".tmp" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(attempt);
    int fd = _wopen(Wide(*temporary).c_str(), _O_CREAT | _O_EXCL | _O_WRONLY | _O_BINARY,
                    _S_IREAD | _S_IWRITE);
    if (fd < 0 && errno == EEXIST) continue;
    if (fd < 0) return nullptr;
    std::FILE *f = _fdopen(fd, "wb");
    if (!f) _close(fd);
    return f;
  }
  return nullptr;
}

bool FlushToDisk(std::FILE *f) { return _commit(_fileno(f)) == 0; }

// Renames `from` over `to`, replacing it.
bool MoveOver(const std::string &from, const std::string &to, std::string *reason) {
  if (MoveFileExW(Wide(from).c_str(), Wide(to).c_str(),
                  MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    return true;
  }
  *reason = SystemMessage(GetLastError());
  return false;
}
#else
bool IsRegularOrAbsent(const std::string &path) {
  struct stat s;
  if (stat(path.c_str(), &s) != 0) return true;
  return S_ISREG(s.st_mode);
}

std::FILE *CreateBeside(const std::string &path, std::string *temporary) {
  std::vector<char> name(path.begin(), path.end());
  const char suffix[] = ".tmpXXXXXX";
  name.insert(name.end(), suffix, suffix + sizeof suffix);
  int fd = mkstemp(name.data());
  if (fd < 0) return nullptr;
  *temporary = name.data();
  // mkstemp makes the file private; a page is as readable as any file the
  // user creates.
  mode_t mask = umask(0);
  umask(mask);
  fchmod(fd, 0666 & ~mask);
  std::FILE *f = fdopen(fd, "wb");
  if (!f) close(fd);
  return f;
}

bool FlushToDisk(std::FILE *f) { return fsync(fileno(f)) == 0; }

bool MoveOver(const std::string &from, const std::string &to, std::string *reason) {
  if (std::rename(from.c_str(), to.c_str()) == 0) return true;
  *reason = Reason();
  return false;
}

// A symbolic link is followed, so that the file it names is replaced and
// the link stays.
std::string Target(const std::string &path) {
  char resolved[PATH_MAX];
  struct stat s;
  if (lstat(path.c_str(), &s) == 0 && S_ISLNK(s.st_mode) && realpath(path.c_str(), resolved)) {
    return resolved;
  }
  return path;
}
#endif

bool WriteDirectly(const std::string &path, const std::string &text, std::string *error) {
  std::FILE *f = std::fopen(path.c_str(), "wb");
  if (!f) {
    *error = "cannot create " + path + ": " + Reason();
    return false;
  }
  bool written = std::fwrite(text.data(), 1, text.size(), f) == text.size() && std::fflush(f) == 0;
  std::string reason = Reason();
  if (std::fclose(f) != 0 && written) {
    written = false;
    reason = Reason();
  }
  if (!written) *error = "cannot write " + path + ": " + reason;
  return written;
}

}  // namespace

InputFile::~InputFile() {
  if (f_ && f_ != stdin) std::fclose(f_);
}

bool InputFile::Open(const std::string &path, std::string *error) {
  path_ = path;
  if (path == kStandardInput) {
#ifdef _WIN32
    _setmode(_fileno(stdin), _O_BINARY);
#endif
    f_ = stdin;
    return true;
  }
  f_ = std::fopen(path.c_str(), "rb");
  if (!f_) *error = "cannot open " + path + ": " + Reason();
  return f_ != nullptr;
}

bool InputFile::Read(std::size_t limit, std::string *text, std::string *error) {
  char buffer[65536];
  std::size_t n, left = limit;
  while ((limit == 0 || left > 0) &&
         (n = std::fread(buffer, 1, limit == 0 ? sizeof buffer : std::min(left, sizeof buffer),
                         f_)) > 0) {
    text->append(buffer, n);
    left -= std::min(left, n);
  }
  if (std::ferror(f_) == 0) return true;
  *error =
      "cannot read " + (f_ == stdin ? std::string("the standard input") : path_) + ": " + Reason();
  return false;
}

bool IdentifyFile(const std::string &path, FileIdentity *identity) {
#ifdef _WIN32
  HANDLE h = path == kStandardInput
                 ? GetStdHandle(STD_INPUT_HANDLE)
                 : CreateFileW(Wide(path).c_str(), FILE_READ_ATTRIBUTES,
                               FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                               OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (h == INVALID_HANDLE_VALUE || h == nullptr) return false;
  BY_HANDLE_FILE_INFORMATION info;
  bool ok = GetFileInformationByHandle(h, &info) != 0;
  if (path != kStandardInput) CloseHandle(h);
  if (!ok) return false;
  identity->device = info.dwVolumeSerialNumber;
  identity->file =
      (static_cast<unsigned long long>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
  return true;
#else
  struct stat s;
  int result = path == kStandardInput ? fstat(0, &s) : stat(path.c_str(), &s);
  if (result != 0) return false;
  identity->device = s.st_dev;
  identity->file = s.st_ino;
  return true;
#endif
}

bool ReplaceFileWith(const std::string &path, const std::string &text, std::string *error) {
#ifdef _WIN32
  const std::string target = path;
#else
  const std::string target = Target(path);
#endif
  if (!IsRegularOrAbsent(target)) return WriteDirectly(target, text, error);
  std::string temporary;
  std::FILE *f = CreateBeside(target, &temporary);
  if (!f) {
    *error = "cannot create " + path + ": " + Reason();
    return false;
  }
  bool written = std::fwrite(text.data(), 1, text.size(), f) == text.size() &&
                 std::fflush(f) == 0 && FlushToDisk(f);
  std::string reason = Reason();
  if (std::fclose(f) != 0 && written) {
    written = false;
    reason = Reason();
  }
  if (written && MoveOver(temporary, target, &reason)) return true;
  std::remove(temporary.c_str());
  *error = "cannot write " + path + ": " + reason;
  return false;
}

bool WriteStandardOutput(const std::string &text, std::string *error) {
  if (std::fwrite(text.data(), 1, text.size(), stdout) == text.size()) return true;
  *error = "cannot write the standard output: " + Reason();
  return false;
}

bool CloseStandardOutput(std::string *error) {
  bool ok = std::fflush(stdout) == 0 && std::ferror(stdout) == 0;
  std::string reason = Reason();
  if (std::fclose(stdout) != 0 && ok) {
    ok = false;
    reason = Reason();
  }
  if (!ok) *error = "cannot write the standard output: " + reason;
  return ok;
}
