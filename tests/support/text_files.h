// Small text helpers shared by the tests.
#pragma once

#include <algorithm>
#include <cstdio>
#include <string>

#include <gtest/gtest.h>

inline std::string Repeat(const std::string &text, int times) {
  std::string out;
  for (int i = 0; i < times; ++i) out += text;
  return out;
}

// The bytes a file opened in text mode holds for `text`: Windows stores each
// line feed as CR LF.
inline std::string TextModeBytes(const std::string &text) {
#ifdef _WIN32
  std::string out;
  for (char c : text) {
    if (c == '\n') out += '\r';
    out += c;
  }
  return out;
#else
  return text;
#endif
}

// Writes `text` to the file `path` as bytes; false when it cannot.
inline bool WriteFile(const std::string &path, const std::string &text) {
  std::FILE *f = std::fopen(path.c_str(), "wb");
  if (!f) return false;
  bool written = std::fwrite(text.data(), 1, text.size(), f) == text.size();
  return std::fclose(f) == 0 && written;
}

// The whole content of a file, or "<missing>".
inline std::string ReadFile(const std::string &path) {
  std::FILE *f = std::fopen(path.c_str(), "rb");
  if (!f) return "<missing>";
  std::string out;
  char buffer[4096];
  std::size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) out.append(buffer, n);
  std::fclose(f);
  return out;
}

// The figures of a run of marks that a stop request ended while a card was
// always present: every attempt found it ('o'), except perhaps the last,
// which the stop may have cut short: 'X' in the ACK wait, '.' in the
// response wait (no response reads as no card). False for other marks.
struct StoppedRun {
  int successes;
  int attempts;
  double rate;
};
inline bool ReadStoppedRun(const std::string &marks, StoppedRun *run) {
  std::size_t first = marks.find_first_not_of('o');
  if (marks.empty() || (first != std::string::npos && first + 1 != marks.size()) ||
      (first != std::string::npos && marks[first] != 'X' && marks[first] != '.')) {
    return false;
  }
  run->attempts = static_cast<int>(marks.size());
  run->successes = run->attempts - (first == std::string::npos ? 0 : 1);
  run->rate = run->successes * 100.0 / run->attempts;
  return true;
}

// Checks the console output after `banner` and the result file of a run that
// a stop ended in order: the total line right after the marks, and the same
// figures in the record (ended by a comma or a line feed). Returns the run.
inline StoppedRun ExpectOrderlyEnd(const std::string &out, const std::string &banner,
                                   const std::string &file, bool commaTerminated) {
  StoppedRun run{};
  EXPECT_EQ(out.substr(0, banner.size()), banner);
  std::string rest = out.substr(std::min(banner.size(), out.size()));
  std::size_t marks = rest.find('(');
  EXPECT_NE(marks, std::string::npos) << rest;
  if (marks == std::string::npos || !ReadStoppedRun(rest.substr(0, marks), &run)) {
    ADD_FAILURE() << "not the marks of a stopped run: " << rest;
    return run;
  }
  char total[64];
  std::snprintf(total, sizeof total, "(TOTAL) [%4d/%4d] ... %6.2lf%%\n\n", run.successes,
                run.attempts, run.rate);
  EXPECT_EQ(rest.substr(marks), total);
  char record[64];
  std::snprintf(record, sizeof record, "%6.2lf%%,%4d,%4d%s", run.rate, run.successes, run.attempts,
                commaTerminated ? "," : "\n");
  EXPECT_EQ(ReadFile(file), record);
  return run;
}

// The last line of `text` without its line feed; "" for none.
inline std::string LastLine(const std::string &text) {
  std::string body = !text.empty() && text.back() == '\n' ? text.substr(0, text.size() - 1) : text;
  std::size_t start = body.rfind('\n');
  return start == std::string::npos ? body : body.substr(start + 1);
}
