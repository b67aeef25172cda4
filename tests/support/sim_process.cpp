#include "tests/support/sim_process.h"

#include <sstream>

std::string CommandSequence(const std::string &trace) {
  std::istringstream lines(trace);
  std::string line, out;
  while (std::getline(lines, line)) {
    if (line.rfind("<- ", 0) != 0) continue;
    std::size_t two = line.find("  ");
    if (two == std::string::npos) continue;
    std::string name = line.substr(two + 2);
    name = name.substr(0, name.find(" | "));  // drop the decoded plaintext
    out += (out.empty() ? "" : ",") + name;
  }
  return out;
}
