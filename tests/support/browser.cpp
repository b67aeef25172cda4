#include "tests/support/browser.h"

#include <unistd.h>

#include <cstdlib>

std::string FindChromium() {
  const char *path = std::getenv("PATH");
  std::string dirs = path ? path : "/usr/bin:/bin";
  for (std::size_t start = 0; start <= dirs.size();) {
    std::size_t end = dirs.find(':', start);
    if (end == std::string::npos) end = dirs.size();
    std::string candidate = dirs.substr(start, end - start) + "/chromium";
    if (access(candidate.c_str(), X_OK) == 0) return candidate;
    start = end + 1;
  }
  return "";
}

RunResult RunChromium(const std::string &chromium, const ScratchDir &dir,
                      std::vector<std::string> args) {
  std::vector<std::string> all = {"--headless",
                                  "--no-sandbox",
                                  "--disable-gpu",
                                  "--disable-dev-shm-usage",
                                  "--disable-background-networking",
                                  "--disable-component-update",
                                  "--disable-sync",
                                  "--no-first-run",
                                  "--hide-scrollbars",
                                  "--user-data-dir=" + (dir / "profile"),
                                  "--window-size=1200,1600"};
  all.insert(all.end(), args.begin(), args.end());
  const char *home = std::getenv("HOME");
  std::string savedHome = home ? home : "";
  setenv("HOME", dir.Path().c_str(), 1);  // the browser's caches go there
  RunResult r = RunProgram(chromium, all, "", 120000);
  if (home) {
    setenv("HOME", savedHome.c_str(), 1);
  } else {
    unsetenv("HOME");
  }
  return r;
}
