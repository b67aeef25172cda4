#include "sim/link_claim.h"

#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>

namespace sim {

namespace {

// How often to look at the lock file again when it changed under us: its
// owner removed it, a stale one was just cleared, or another simulator is
// creating it at this moment.
constexpr int kLockAttempts = 5;
constexpr useconds_t kRetryPauseUs = 20000;

std::string SystemError() { return std::strerror(errno); }

// The target of a symbolic link, or "" when it cannot be read.
std::string LinkTarget(const std::string &path) {
  char buffer[4096];
  ssize_t n = readlink(path.c_str(), buffer, sizeof buffer - 1);
  return n < 0 ? std::string() : std::string(buffer, static_cast<std::size_t>(n));
}

// The start of a file's contents; a lock file holds a short line.
std::string ContentsOf(int fd) {
  char buffer[32] = {};
  ssize_t n = pread(fd, buffer, sizeof buffer, 0);
  return n > 0 ? std::string(buffer, static_cast<std::size_t>(n)) : "";
}

// A simulator's lock file holds this word, a space, its process number and a
// line feed; nothing else writes that, so any other contents are not ours.
constexpr char kSignature[] = "rwsim ";

std::string LockContents(pid_t pid) { return kSignature + std::to_string(pid) + "\n"; }

// The process number in a simulator's lock file, or "" for any other contents.
std::string ProcessNumberIn(const std::string &contents) {
  const std::string signature = kSignature;
  if (contents.rfind(signature, 0) != 0 || contents.back() != '\n') return "";
  std::string digits = contents.substr(signature.size(), contents.size() - signature.size() - 1);
  if (digits.empty() || digits.size() > 10 ||
      digits.find_first_not_of("0123456789") != std::string::npos)
    return "";
  return digits;
}

// True when a process with this number still runs (or might: one that we may
// not signal is still alive).
bool ProcessAlive(const std::string &number) {
  long pid = std::stol(number);
  if (pid <= 0 || pid > 0x7fffffffL) return true;
  return kill(static_cast<pid_t>(pid), 0) == 0 || errno != ESRCH;
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
  if (!Lock(error) || !MakeLink(error)) {
    Release();
    return false;
  }
  return true;
}

void LinkClaim::Withdraw() { RemoveOurLink(); }

bool LinkClaim::Repoint(const std::string &terminal, std::string *error) {
  RemoveOurLink();
  terminal_ = terminal;
  if (lockFd_ < 0) {
    *error = "cannot link " + link_ + " again: the path is not ours";
    return false;
  }
  return MakeLink(error);
}

// Clears what a simulator may replace at the path and links it to our
// terminal.
bool LinkClaim::MakeLink(std::string *error) {
  if (!ClearOldLink(error)) return false;
  if (symlink(terminal_.c_str(), link_.c_str()) != 0) {
    *error = "cannot create link " + link_ + ": " + SystemError();
    return false;
  }
  linked_ = true;
  return true;
}

void LinkClaim::RemoveOurLink() {
  if (linked_ && LinkTarget(link_) == terminal_) unlink(link_.c_str());
  linked_ = false;
}

// The lock file is created exclusively, so that nothing already at its path is
// ever truncated or taken over; only a lock file that a simulator left behind
// (unlocked: its owner is gone) is removed to make room.
bool LinkClaim::Lock(std::string *error) {
  for (int attempt = 0; attempt < kLockAttempts; ++attempt) {
    if (attempt > 0) usleep(kRetryPauseUs);
    int fd = open(lockPath_.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0644);
    if (fd >= 0) return HoldCreatedLock(fd, error);
    if (errno != EEXIST) {
      *error =
          "cannot create the lock file " + lockPath_ + " of link " + link_ + ": " + SystemError();
      return false;
    }
    if (!ClearStaleLock(error)) return false;
  }
  return false;  // the last look said why
}

bool LinkClaim::HoldCreatedLock(int fd, std::string *error) {
  // A simulator that found the new file may hold its lock for a moment while
  // it reads it.
  for (int attempt = 0; attempt < kLockAttempts; ++attempt) {
    if (flock(fd, LOCK_EX | LOCK_NB) == 0) {
      std::string pid = LockContents(getpid());
      if (pwrite(fd, pid.data(), pid.size(), 0) < 0) {
        // Left empty, the file is refused as not a simulator's once this one
        // ends; while it runs, the lock alone keeps the path ours.
      }
      lockFd_ = fd;
      return true;
    }
    if (errno != EWOULDBLOCK) break;
    usleep(kRetryPauseUs / 4);
  }
  *error = "cannot lock the lock file " + lockPath_ + " of link " + link_ + ": " + SystemError();
  if (StillAt(fd, lockPath_)) unlink(lockPath_.c_str());  // created by us a moment ago
  close(fd);
  return false;
}

// Looks at a lock file that is already there. Returns false with a refusal
// when the path is taken (a running simulator, or a file that is not a
// simulator's); true when it is worth another try, with the reason to give
// should the tries run out.
bool LinkClaim::ClearStaleLock(std::string *error) const {
  *error = KeepsChanging();
  int fd = open(lockPath_.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
  if (fd < 0) {
    if (errno == ENOENT) return true;  // its owner just removed it
    *error = errno == ELOOP ? NotOurs()
                            : "cannot open the lock file " + lockPath_ + ": " + SystemError();
    return false;
  }
  bool retry = false;
  struct stat entry {};
  if (fstat(fd, &entry) != 0 || !S_ISREG(entry.st_mode)) {
    *error = NotOurs();
  } else if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
    retry = RefuseLocked(fd, error);
  } else {
    retry = ClearUnlocked(fd, error);
  }
  close(fd);
  return retry;
}

// The lock file is not locked: removed when a simulator that is no longer
// running left it behind; any other file (or a live process's) is refused.
bool LinkClaim::ClearUnlocked(int fd, std::string *error) const {
  std::string contents = ContentsOf(fd);
  // An empty file may be one that another simulator has just created.
  *error = NotOurs();
  if (contents.empty()) return true;
  std::string owner = ProcessNumberIn(contents);
  if (owner.empty()) return false;
  if (ProcessAlive(owner)) {
    *error = "the lock file " + lockPath_ + " of link " + link_ + " names process " + owner +
             ", which is still running; not replaced";
    return false;
  }
  return RemoveStale(fd, error);
}

// The lock file is locked: by a running simulator, or by one that is just
// replacing it (worth another try).
bool LinkClaim::RefuseLocked(int fd, std::string *error) const {
  if (errno != EWOULDBLOCK) {
    *error = "cannot lock the lock file " + lockPath_ + ": " + SystemError();
    return false;
  }
  std::string owner = ProcessNumberIn(ContentsOf(fd));
  *error = link_ + " is in use by another running simulator (" +
           (owner.empty() ? "" : "process " + owner + ", ") + "lock file " + lockPath_ + ")";
  return !StillAt(fd, lockPath_);
}

std::string LinkClaim::NotOurs() const {
  return "the lock file " + lockPath_ + " of link " + link_ +
         " exists and is not a simulator's; not replaced";
}

std::string LinkClaim::KeepsChanging() const {
  return "cannot lock link " + link_ + ": its lock file " + lockPath_ + " keeps changing";
}

// Removes the lock file of a simulator that ended without removing it; `fd`
// holds its lock, so no other simulator removes or replaces it meanwhile.
bool LinkClaim::RemoveStale(int fd, std::string *error) const {
  *error = KeepsChanging();
  if (!StillAt(fd, lockPath_) || unlink(lockPath_.c_str()) == 0) return true;
  *error = "cannot remove the lock file " + lockPath_ +
           " that a simulator left behind: " + SystemError();
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
  RemoveOurLink();
  if (lockFd_ >= 0) {
    // Still locked: a waiting opener notices the change. Only our own file
    // is removed, never one that took its place.
    if (StillAt(lockFd_, lockPath_)) unlink(lockPath_.c_str());
    close(lockFd_);
    lockFd_ = -1;
  }
}

}  // namespace sim
