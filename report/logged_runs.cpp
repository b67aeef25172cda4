#include "report/logged_runs.h"

#include <algorithm>

#include "report/log_reader.h"

bool LooksLikeEventLog(const std::string &text) {
  std::size_t first = text.find_first_not_of(" \t\r\n");
  return first != std::string::npos && text[first] == '{';
}

bool ParseLoggedRuns(const std::string &text, const std::string &file, std::vector<LoggedRun> *runs,
                     std::vector<std::string> *notes, std::string *error) {
  EventLogReader reader;
  bool ok = reader.Read(nullptr, text, file, "", error);
  runs->insert(runs->end(), reader.Runs().begin(), reader.Runs().end());
  notes->insert(notes->end(), reader.Notes().begin(), reader.Notes().end());
  return ok;
}

namespace {

std::int64_t RankInSorted(const std::vector<std::int64_t> &values, int percent) {
  if (values.empty()) return 0;
  // The rank is ceil(percent x count / 100), in integers.
  std::size_t rank = (static_cast<std::size_t>(percent) * values.size() + 99) / 100;
  rank = std::max<std::size_t>(rank, 1);
  return values[std::min(rank, values.size()) - 1];
}

}  // namespace

std::int64_t NearestRank(std::vector<std::int64_t> values, int percent) {
  std::sort(values.begin(), values.end());
  return RankInSorted(values, percent);
}

LatencySummary SummarizeLatencies(std::vector<std::int64_t> valuesUs) {
  LatencySummary summary;
  summary.count = static_cast<int>(valuesUs.size());
  std::sort(valuesUs.begin(), valuesUs.end());
  summary.minUs = RankInSorted(valuesUs, 0);
  summary.p50Us = RankInSorted(valuesUs, 50);
  summary.p90Us = RankInSorted(valuesUs, 90);
  summary.p99Us = RankInSorted(valuesUs, 99);
  summary.maxUs = RankInSorted(valuesUs, 100);
  return summary;
}

std::int64_t LatencySummary::AtPercent(int percent) const {
  switch (percent) {
    case 0: return minUs;
    case 50: return p50Us;
    case 90: return p90Us;
    case 99: return p99Us;
    default: return maxUs;
  }
}

std::vector<const RecordedRun *> CountedRuns(const LoggedRuns &runs) {
  std::vector<const RecordedRun *> out;
  out.reserve(runs.size());
  for (const LoggedRun &run : runs) out.push_back(&run);
  return out;
}
