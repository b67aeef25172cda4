#include "tests/support/sim_process.h"

#include <sstream>

std::string CommandSequence(const std::string &trace) {
  std::istringstream lines(trace);
  std::string line, out;
  while (std::getline(lines, line)) {
    if (line.rfind("<- ", 0) != 0) continue;
    std::size_t two = line.rfind("  ");
    if (two != std::string::npos) out += (out.empty() ? "" : ",") + line.substr(two + 2);
  }
  return out;
}
