#include "sim/link_claim.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>

namespace sim {

namespace {

// How often to reopen the lock file when its owner removed it between our
// open and our lock; each retry means another simulator just ended.
constexpr int kLockAttempts = 5;

std::string SystemError() { return std::strerror(errno); }

// The target of a symbolic link, or "" when it cannot be read.
std::string LinkTarget(const std::string &path) {
  char buffer[4096];
  ssize_t n = readlink(path.c_str(), buffer, sizeof buffer - 1);
  return n < 0 ? std::string() : std::string(buffer, static_cast<std::size_t>(n));
}

// The process number the owner wrote into the lock file, or "".
std::string OwnerOf(int fd) {
  char buffer[32] = {};
  ssize_t n = pread(fd, buffer, sizeof buffer - 1, 0);
  std::string text = n > 0 ? std::string(buffer, static_cast<std::size_t>(n)) : "";
  while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
  return text.find_first_not_of("0123456789") == std::string::npos ? text : "";
}

// True when `fd` is still the file at `path`, not one its owner removed.
bool StillAt(int fd, const std::string &path) {
  struct stat opened {
  }, current{};
  return fstat(fd, &opened) == 0 && stat(path.c_str(), &current) == 0 &&
         opened.st_dev == current.st_dev && opened.st_ino == current.st_ino;
}

}  // namespace

bool LinkClaim::Take(const std::string &link, const std::string &terminal, std::string *error) {
  link_ = link;
  terminal_ = terminal;
  lockPath_ = link + ".lock";
  if (!Lock(error) || !ClearOldLink(error)) {
    Release();
    return false;
  }
  if (symlink(terminal.c_str(), link.c_str()) != 0) {
    *error = "cannot create link " + link + ": " + SystemError();
    Release();
    return false;
  }
  linked_ = true;
  return true;
}

bool LinkClaim::Lock(std::string *error) {
  for (int attempt = 0; attempt < kLockAttempts; ++attempt) {
    int fd = open(lockPath_.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0644);
    if (fd < 0) {
      *error = "cannot lock link " + link_ + " (lock file " + lockPath_ + "): " + SystemError();
      return false;
    }
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
      std::string owner = errno == EWOULDBLOCK ? OwnerOf(fd) : "";
      *error = errno == EWOULDBLOCK ? link_ + " is in use by another running simulator" +
                                          (owner.empty() ? "" : " (process " + owner + ")")
                                    : "cannot lock link " + link_ + " (lock file " + lockPath_ +
                                          "): " + SystemError();
      close(fd);
      return false;
    }
    if (StillAt(fd, lockPath_)) {
      std::string pid = std::to_string(getpid()) + "\n";
      if (ftruncate(fd, 0) != 0 || pwrite(fd, pid.data(), pid.size(), 0) < 0) {
        // The process number only makes the refusal message friendlier.
      }
      lockFd_ = fd;
      return true;
    }
    close(fd);  // its owner ended and removed it: take the new file instead
  }
  *error = "cannot lock link " + link_ + ": its lock file " + lockPath_ + " keeps changing";
  return false;
}

// A link left by a simulator that ended without cleaning up leads to a
// pseudo-terminal that is gone (or reused); anything else at the path belongs
// to someone else.
bool LinkClaim::ClearOldLink(std::string *error) const {
  struct stat entry {};
  if (lstat(link_.c_str(), &entry) != 0) return true;
  if (!S_ISLNK(entry.st_mode)) {
    *error = link_ + " exists and is not a symbolic link; not replaced";
    return false;
  }
  std::string target = LinkTarget(link_);
  struct stat leadsTo {};
  bool dangling = stat(link_.c_str(), &leadsTo) != 0;
  if (!dangling && target.rfind("/dev/pts/", 0) != 0) {
    *error = link_ + " is a link to " + target + ", not to a pseudo-terminal; not replaced";
    return false;
  }
  if (unlink(link_.c_str()) != 0) {
    *error = "cannot remove the old link " + link_ + ": " + SystemError();
    return false;
  }
  return true;
}

void LinkClaim::Release() {
  if (linked_ && LinkTarget(link_) == terminal_) unlink(link_.c_str());
  linked_ = false;
  if (lockFd_ >= 0) {
    unlink(lockPath_.c_str());  // still locked: a waiting opener notices the change
    close(lockFd_);
    lockFd_ = -1;
  }
}

}  // namespace sim
