// A station of many busy readers, for the benches of the station's HTTP
// face: every figure filled in as after an overnight soak.
#pragma once

#include <string>

#include "report/station_snapshot.h"

inline StationSnapshot SampleStation(int readers, long long step) {
  StationSnapshot s;
  s.name = "bench-station";
  s.version = "bench";
  s.title = "32 antennas overnight";
  s.session = "station-20240501-220000";
  s.startTime = 1714600000;
  s.time = s.startTime + step * 0.5;
  s.requiredRate = 0.99;
  for (int i = 0; i < readers; ++i) {
    ReaderSnapshot r;
    r.name = "unit" + std::to_string(i);
    r.tool = i % 2 ? "brimlet" : "kestrow";
    r.port = "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A10K" + std::to_string(1000 + i) +
             "-if00-port0";
    r.state = i % 11 == 10 ? "failed" : i % 13 == 12 ? "lost" : "polling";
    if (r.state == "failed") r.cause = "no connection: no ACK";
    r.starts = 1 + i % 3;
    r.attempts = 3000000 + 35 * step + i;
    r.successes = r.attempts - r.attempts / 97;
    r.runs = r.attempts / 100;
    r.failures = {{"no card", r.attempts / 150},
                  {"no ACK", r.attempts / 1000},
                  {"bad checksum", 17},
                  {"port error", i}};
    r.losses = {i % 3, 12LL * (i % 3), 4.5 * (i % 3)};
    r.reconnections = 40 + i;
    r.lastAttemptTime = s.time - 0.01;
    r.lastMarks = "ooooo.oooo";
    for (int k = 0; k < 2000; ++k) r.pollDurations.Add(0.008 + 0.0001 * (k % 200));
    r.pollDurations.Add(0.16);
    for (int k = 0; k < 600; ++k) r.recent.Add(1714600000 + k, (k + i) % (20 + i % 7) != 0);
    s.readers.push_back(r);
  }
  return s;
}
