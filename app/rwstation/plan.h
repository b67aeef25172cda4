// The station's plan: one reader per line, a name, the tool and the tool's
// own option words, checked in full before any reader starts.
#pragma once

#include <optional>
#include <string>
#include <vector>

// A line of the plan and where it came from, for messages ("line 3",
// "reader 2" for one given on the command line).
struct PlanLine {
  std::string text;
  std::string where;
};

struct PlannedReader {
  std::string name;
  std::string tool;                // kestrow or brimlet
  std::vector<std::string> words;  // the tool's option words, as given
  std::string port;                // the value of `c`
  std::string where;
  std::string device = "";  // the device the port names, such as /dev/ttyUSB0 for ttyUSB0
  bool singleRun = false;   // `t N`: one run, then the tool ends
};

struct Plan {
  std::vector<PlannedReader> readers;
  std::string requireRate;  // the gate's rate in percent, "" for none
};

// The gate's rate (`Plan::requireRate`, checked when it was read) as a
// number in percent; none without a gate.
std::optional<double> RequiredPercent(const std::string &requireRate);

// The longest line a plan may have: room for a port path of the system's
// limit (4095 characters on Linux) and every option word beside it.
constexpr std::size_t kLongestPlanLine = 8192;

// The lines of a plan file, each named "line N".
std::vector<PlanLine> PlanFileLines(const std::string &text);

// Reads and checks every line: `#` starts a comment, blank lines are
// skipped, "require RATE" sets the gate. A line longer than
// kLongestPlanLine, or holding a NUL byte (which would cut its word short
// on the way to the tool), is refused. A reader is refused for an unknown
// tool, a name that is not a plain file name or is used twice, a port named
// by another reader too (also under another name of the same device), no
// port, an option word the tool's own parser refuses, and the words `f` and
// `log`, which the station sets itself. Returns false with one message per
// mistake, each naming its line.
bool ReadPlan(const std::vector<PlanLine> &lines, Plan *plan, std::vector<std::string> *errors);
