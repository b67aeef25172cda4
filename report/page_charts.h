// The charts of rwreport's page as SVG: the success rate of every group
// with its interval, and the attempt latency of the runs listed.
#pragma once

#include <string>
#include <vector>

#include "report/logged_runs.h"
#include "report/run_stats.h"

// One column per group and one for all runs apart: the 95 % interval as a
// bar, the pooled rate as a line across it, the runs as dots (one per
// distinct rate, hollow when short; its tooltip says how many runs). The
// axis is zoomed to the intervals, the required rate (drawn as a dashed
// line when `requiredPercent` is not negative) and the runs near them; runs
// far below (one outlying run would flatten the chart) are marked at its
// foot. `below` receives how many runs are so marked.
std::string RateChart(const Report &report, double requiredPercent, int *below);

// A bar per run from its median to its 99th percentile, a dot at its
// maximum; logarithmic when the values spread over more than a factor of 8.
std::string LatencyChart(const std::vector<const LoggedRun *> &runs);
