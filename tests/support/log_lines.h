// Reading an event log back in tests.
#pragma once

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "link/event_log.h"

// Every line of a log's text, each as its fields, in order; fails the test
// on a line that does not parse and on a last line without its end.
inline std::vector<eventlog::Fields> LogEvents(const std::string &text) {
  std::vector<eventlog::Fields> events;
  std::size_t start = 0;
  for (std::size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1) {
    eventlog::Fields fields;
    std::string error;
    EXPECT_TRUE(eventlog::ParseLine(text.substr(start, end - start), &fields, &error)) << error;
    events.push_back(fields);
  }
  EXPECT_EQ(start, text.size()) << "a partial line at the end";
  return events;
}
