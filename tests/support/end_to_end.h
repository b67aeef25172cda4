// What the tests expect of the programs wherever they meet them: the
// banners, the ACK frame, and an event log read back as its events. Written
// out here, not taken from the code under test.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "link/event_log.h"

inline const std::string kKestrowBanner =
    "\n<< Polling for Serial Port --- ver 1.062 >>\n<< (C) 2026 The kestrow authors >>\n\n";
inline const std::string kBrimletBanner =
    "\n<< Polling for TQ --- ver 1.062 >>\n<< (C) 2026 The kestrow authors >>\n\n";

inline const std::vector<std::uint8_t> kAckFrame = {0x00, 0x00, 0xFF, 0x00, 0xFF, 0x00};

// The lines of an event log, each as its fields. A line that does not parse,
// or a last line without its line feed, fails the test.
inline std::vector<eventlog::Fields> EventsIn(const std::string &text) {
  std::vector<eventlog::Fields> events;
  std::size_t start = 0;
  for (std::size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1) {
    eventlog::Fields fields;
    std::string error;
    EXPECT_TRUE(eventlog::ParseLine(text.substr(start, end - start), &fields, &error)) << error;
    events.push_back(fields);
  }
  EXPECT_EQ(start, text.size()) << "a line without its end";
  return events;
}
