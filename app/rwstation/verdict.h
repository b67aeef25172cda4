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

// rwreport's words for the session: grouped by file, the gate when set,
// comparisons for two readers or more, the page in the session folder, the
// title when given, then, after "--" (a folder may begin with "-"), the
// files of every reader that recorded a run. With `everyReader`, the files
// of all readers, as if each had: the longest list the session can need.
std::vector<std::string> ReportArguments(const std::vector<StationReader> &readers,
                                         const ReportSettings &settings, bool everyReader = false);

// Names the readers that failed and those that lost their R/W, runs
// rwreport with its console output kept in report.txt in the session
// folder (so that its page is written whatever becomes of our standard
// output) and shown from there, and returns the station's exit status: 0
// when every reader ran and rwreport passed them all, else 1.
int Verdict(const std::vector<StationReader> &readers, const ReportSettings &settings);
