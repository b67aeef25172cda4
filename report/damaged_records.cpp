#include "report/damaged_records.h"

#include <algorithm>
#include <cstdlib>

#include "report/csv_cells.h"

namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Where rates begin in `line`: a run of digits and points ending in '%'
// that no digit or point precedes.
std::vector<std::size_t> RateStarts(const std::string &line) {
  std::vector<std::size_t> starts;
  for (std::size_t i = 0; i < line.size(); ++i) {
    if (!IsDigit(line[i]) || (i > 0 && (IsDigit(line[i - 1]) || line[i - 1] == '.'))) continue;
    std::size_t end = i;
    while (end < line.size() && (IsDigit(line[end]) || line[end] == '.')) ++end;
    if (end < line.size() && line[end] == '%') starts.push_back(i);
  }
  return starts;
}

// The column and reason of a parse error "FILE:LINE:COLUMN: reason" of an
// unnamed file.
void SplitError(const std::string &error, int *column, std::string *reason) {
  std::size_t second = error.find(':', 1), third = error.find(':', second + 1);
  *column = std::max(1, std::atoi(error.c_str() + second + 1));
  *reason = error.substr(third + 2);
}

// Reads the records of one line; at a damaged one, skips to the next rate
// after the point where reading failed and goes on from there.
void TakeLine(const std::string &text, const std::string &fileName, int line,
              std::vector<ParsedRecord> *records, std::vector<std::string> *skipped) {
  std::vector<std::size_t> rates = RateStarts(text);
  for (std::size_t from = 0; from < text.size();) {
    std::vector<ParsedRecord> found;
    std::string error;
    bool whole = ParseResultRecords(text.substr(from), "", &found, &error);
    // The damaged record begins after the last good one, at its rate if that
    // was read.
    std::size_t begun = found.empty() ? from : from + found.back().position.column;
    for (ParsedRecord &r : found) {
      r.position.line = line;
      r.position.column += static_cast<int>(from);
      records->push_back(r);
    }
    if (whole) return;
    int column;
    std::string reason;
    SplitError(error, &column, &reason);
    std::size_t failed = from + static_cast<std::size_t>(column) - 1;
    auto next = std::upper_bound(rates.begin(), rates.end(), failed);
    std::size_t resume = next == rates.end() ? text.size() : *next;
    auto rate = std::upper_bound(rates.begin(), rates.end(), failed);
    if (rate != rates.begin() && *(rate - 1) >= begun) failed = *(rate - 1);
    std::string shown = text.substr(failed, resume - failed);
    while (!shown.empty() && (shown.back() == '\n' || shown.back() == '\r')) shown.pop_back();
    skipped->push_back(fileName + ":" + std::to_string(line) + ":" + std::to_string(failed + 1) +
                       ": " + reason + "; skipped \"" + Printable(shown) + "\"");
    from = resume;
  }
}

}  // namespace

void ParseGoodResultRecords(const std::string &text, const std::string &fileName,
                            std::vector<ParsedRecord> *records, std::vector<std::string> *skipped) {
  int line = 0;
  for (std::size_t start = 0; start < text.size();) {
    std::size_t end = text.find('\n', start);
    end = end == std::string::npos ? text.size() : end + 1;
    TakeLine(text.substr(start, end - start), fileName, ++line, records, skipped);
    start = end;
  }
}
