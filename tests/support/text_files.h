// Small text helpers shared by the tests.
#pragma once

#include <cstdio>
#include <string>

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
