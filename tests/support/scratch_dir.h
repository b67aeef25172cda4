// Private folders for the files tests write, so that no test writes to a
// fixed name in a shared folder and copies of the suite can run at once.
#pragma once

#include <string>

// A folder of its own (mode 0700 where the system has modes), removed with
// everything in it when the object goes.
class ScratchDir {
 public:
  ScratchDir();
  ~ScratchDir();
  ScratchDir(const ScratchDir &) = delete;
  ScratchDir &operator=(const ScratchDir &) = delete;

  const std::string &Path() const { return path_; }
  std::string operator/(const std::string &name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

// The path of `name` inside the test program's own folder, made on first use
// and removed when the program ends.
std::string ScratchPath(const std::string &name);
