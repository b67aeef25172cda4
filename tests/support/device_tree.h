// A fake device tree in a private folder: /sys/class/tty entries as the
// kernel shows serial devices, and /dev nodes (links to pseudo-terminals, or
// plain files where nothing is opened).
#pragma once

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "tests/support/scratch_dir.h"

class DeviceTree {
 public:
  DeviceTree() {
    for (const char *dir : {"/sys", "/sys/class", "/sys/class/tty", "/dev"}) {
      mkdir((root_.Path() + dir).c_str(), 0700);
    }
  }
  const std::string &Root() const { return root_.Path(); }
  std::string Dev(const std::string &name) const { return root_.Path() + "/dev/" + name; }

  // A tty class entry; `uartType` is written as its type file when not
  // negative (0: no UART behind the port). `target`, when given, is what
  // the /dev node links to; an empty one makes a plain file.
  void AddTty(const std::string &name, int uartType = -1, const std::string &target = "",
              bool devNode = true) {
    std::string entry = root_.Path() + "/sys/class/tty/" + name;
    mkdir(entry.c_str(), 0700);
    if (uartType >= 0) Write(entry + "/type", std::to_string(uartType) + "\n");
    if (!devNode) return;
    if (target.empty()) {
      Write(Dev(name), "");
    } else {
      symlink(target.c_str(), Dev(name).c_str());
    }
  }

  // The kernel's active consoles, as console/active lists them.
  void SetConsoles(const std::string &names) {
    std::string entry = root_.Path() + "/sys/class/tty/console";
    mkdir(entry.c_str(), 0700);
    Write(entry + "/active", names + "\n");
  }

 private:
  static void Write(const std::string &path, const std::string &text) {
    if (std::FILE *f = std::fopen(path.c_str(), "w")) {
      std::fputs(text.c_str(), f);
      std::fclose(f);
    }
  }
  ScratchDir root_;
};
