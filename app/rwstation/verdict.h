// The station's verdict: rwreport over the readers' result files and event
// logs, one group per reader, with the gate and the comparisons.
#pragma once

#include <string>
#include <vector>

#include "app/rwstation/station.h"

// rwreport's words for the session: grouped by file, the gate when
// `requireRate` is set, comparisons for two readers or more, the page in
// the session folder, then the files of every reader that recorded a run.
std::vector<std::string> ReportArguments(const std::vector<StationReader> &readers,
                                         const std::string &requireRate, const std::string &folder);

// Names the readers that failed, runs rwreport (its output shown as it
// comes) and returns the station's exit status: 0 when every reader ran and
// rwreport passed them all, else 1.
int Verdict(const std::vector<StationReader> &readers, const std::string &requireRate,
            const std::string &folder);
