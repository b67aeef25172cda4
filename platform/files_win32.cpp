// Windows backend of platform/files.h: file indexes, _wopen, _commit and
// MoveFileExW, with names in the ANSI code page as main() receives them.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
// clang-format off: after windows.h
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
// clang-format on

#include <cerrno>
#include <cstdio>

#include "platform/files.h"
#include "platform/files_native.h"
#include "platform/win32_error.h"

namespace platform {
namespace {

std::wstring Wide(const std::string &text) {
  // Command-line arguments reach main() in the ANSI code page.
  int n = MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, nullptr, 0);
  std::wstring out(n > 0 ? n : 1, L'\0');
  if (n > 0) MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, &out[0], n);
  out.resize(out.size() - 1);
  return out;
}

bool IdentityOf(HANDLE handle, FileIdentity *identity) {
  BY_HANDLE_FILE_INFORMATION info;
  if (!GetFileInformationByHandle(handle, &info)) return false;
  identity->device = info.dwVolumeSerialNumber;
  identity->file =
      (static_cast<unsigned long long>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
  return true;
}

}  // namespace

namespace native {

std::string ReplacementTarget(const std::string &path) { return path; }

bool IsRegularOrAbsent(const std::string &path) {
  DWORD attributes = GetFileAttributesW(Wide(path).c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return true;
  return (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0 && path.rfind("\\\\.\\", 0) != 0;
}

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

bool FlushToDisk(std::FILE *file) { return _commit(_fileno(file)) == 0; }

bool MoveOver(const std::string &from, const std::string &to, std::string *reason) {
  if (MoveFileExW(Wide(from).c_str(), Wide(to).c_str(),
                  MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    return true;
  }
  *reason = SystemMessage(GetLastError());
  return false;
}

}  // namespace native

bool IdentifyFile(const std::string &path, FileIdentity *identity) {
  HANDLE handle = CreateFileW(Wide(path).c_str(), FILE_READ_ATTRIBUTES,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return false;
  bool known = IdentityOf(handle, identity);
  CloseHandle(handle);
  return known;
}

bool IdentifyStandardInput(FileIdentity *identity) {
  HANDLE handle = GetStdHandle(STD_INPUT_HANDLE);
  return handle != INVALID_HANDLE_VALUE && handle != nullptr && IdentityOf(handle, identity);
}

void ReadStandardInputAsBytes() { _setmode(_fileno(stdin), _O_BINARY); }

void LetWritesToClosedPipesFail() {}  // no SIGPIPE: the write fails

}  // namespace platform
