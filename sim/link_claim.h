// The --link path of a simulator: at most one running simulator owns a path.
// Ownership is an flock on a lock file beside the link ("PATH.lock") that the
// simulator created itself, so it ends with the process, however it ends: a
// link and lock file left behind by a simulator that was killed do not block
// the next one. A file at PATH.lock that no simulator wrote is left alone.
#pragma once

#include <string>

namespace sim {

class LinkClaim {
 public:
  LinkClaim() = default;
  ~LinkClaim() { Release(); }
  LinkClaim(const LinkClaim &) = delete;
  LinkClaim &operator=(const LinkClaim &) = delete;

  // Makes `link` a symbolic link to `terminal`. Refuses a path that another
  // running simulator owns, and anything at the path that is not a link to a
  // pseudo-terminal (or to nothing), since that is not ours to replace.
  // On failure returns false with a message that names the path.
  bool Take(const std::string &link, const std::string &terminal, std::string *error);
  // The terminal went away: the link goes with it (as an adapter's link in
  // /dev/serial/by-id does), but the path stays ours.
  void Withdraw();
  // A new terminal under the path taken: the link is made again, with the
  // same care for whatever came to stand at the path meanwhile.
  bool Repoint(const std::string &terminal, std::string *error);
  // Removes the link (if it still leads to our terminal) and the lock file.
  void Release();

 private:
  bool MakeLink(std::string *error);
  void RemoveOurLink();
  bool Lock(std::string *error);
  bool HoldCreatedLock(int fd, std::string *error);
  bool ClearStaleLock(std::string *error) const;
  bool ClearUnlocked(int fd, std::string *error) const;
  bool RefuseLocked(int fd, std::string *error) const;
  bool RemoveStale(int fd, std::string *error) const;
  std::string NotOurs() const;
  std::string KeepsChanging() const;
  bool ClearOldLink(std::string *error) const;

  std::string link_;
  std::string terminal_;
  std::string lockPath_;
  int lockFd_ = -1;
  bool linked_ = false;
};

}  // namespace sim
