// POSIX backend of platform/files.h: stat, mkstemp, fsync and rename.
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "platform/files.h"
#include "platform/files_native.h"

namespace platform {

namespace native {

// A symbolic link is followed, so that the file it names is replaced and
// the link stays.
std::string ReplacementTarget(const std::string &path) {
  char resolved[PATH_MAX];
  struct stat s;
  if (lstat(path.c_str(), &s) == 0 && S_ISLNK(s.st_mode) && realpath(path.c_str(), resolved)) {
    return resolved;
  }
  return path;
}

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

bool FlushToDisk(std::FILE *file) { return fsync(fileno(file)) == 0; }

bool MoveOver(const std::string &from, const std::string &to, std::string *reason) {
  if (std::rename(from.c_str(), to.c_str()) == 0) return true;
  *reason = std::strerror(errno);
  return false;
}

}  // namespace native

namespace {

bool IdentityOf(const struct stat &s, FileIdentity *identity) {
  identity->device = s.st_dev;
  identity->file = s.st_ino;
  return true;
}

}  // namespace

bool IdentifyFile(const std::string &path, FileIdentity *identity) {
  struct stat s;
  return stat(path.c_str(), &s) == 0 && IdentityOf(s, identity);
}

bool IdentifyStandardInput(FileIdentity *identity) {
  struct stat s;
  return fstat(STDIN_FILENO, &s) == 0 && IdentityOf(s, identity);
}

void ReadStandardInputAsBytes() {}  // POSIX has no text mode

void LetWritesToClosedPipesFail() { std::signal(SIGPIPE, SIG_IGN); }

}  // namespace platform
