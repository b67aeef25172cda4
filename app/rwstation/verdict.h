// The station's verdict: rwreport over the readers' result files and event
// logs, one group per reader, with the gate and the comparisons.
#pragma once

#include <string>
#include <vector>

#include "app/rwstation/station.h"

struct ReportSettings {
  std::string requireRate;  // the gate's rate in percent, "" for none
  std::string title;        // the page's title, "" for rwreport's own
  std::string folder;       // the session folder
};

// The result files and event logs rwreport reads: each reader's that
// recorded a run (its result file only when it holds a record), or with
// `everyReader` all of them.
std::vector<std::string> ReportFiles(const std::vector<StationReader> &readers, bool everyReader);

// rwreport's words for the session: grouped by file, the gate when set,
// comparisons for two readers or more, the page in the session folder, the
// title when given, then, after "--" (a folder may begin with "-"), the
// files of every reader that recorded a run. With `everyReader`, the files
// of all readers, as if each had: the longest list the session can need.
std::vector<std::string> ReportArguments(const std::vector<StationReader> &readers,
                                         const ReportSettings &settings, bool everyReader = false);

// The station's verdict in one line: PASS or FAIL as `status` says, how
// many readers passed the required rate (or ran, without one), those below
// it or undecided with their rate and 95 % interval, the readers that
// failed and why, those that lost their R/W, how often and for how long,
// and `noVerdict` when rwreport gave none. The figures are card finding,
// judged as rwreport judges them.
std::string VerdictLine(const std::vector<StationReader> &readers, const ReportSettings &settings,
                        int status, const std::string &noVerdict);

// Names the readers that failed and those that lost their R/W, runs
// rwreport with its console output kept in report.txt in the session
// folder (so that its page is written whatever becomes of our standard
// output) and shown from there, ends with the verdict line, and returns
// the station's exit status: 0 when every reader ran and rwreport passed
// them all, else 1.
int StationVerdict(const std::vector<StationReader> &readers, const ReportSettings &settings);
