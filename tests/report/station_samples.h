// Readers for the tests of the station's HTTP face.
#pragma once

#include <string>

#include "report/station_snapshot.h"

// A reader with its identity, state and card-finding figures; the rest at
// zero.
inline ReaderSnapshot SampleReader(const std::string &name, const std::string &tool,
                                   const std::string &port, const std::string &state,
                                   long long attempts, long long successes) {
  ReaderSnapshot r;
  r.name = name;
  r.tool = tool;
  r.port = port;
  r.state = state;
  r.attempts = attempts;
  r.successes = successes;
  return r;
}
