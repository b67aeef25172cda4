// What a long soak does to the simulated R/W over time, by the simulator's
// own clock (milliseconds since its start): a line that falls silent for a
// while at regular intervals, and a terminal that goes away and comes back.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace sim {

// Milliseconds of the simulator's clock, counted from its start.
using SimMs = std::int64_t;

// A time in seconds as the options take it: digits with at most one point
// (90, 0.5), read to the millisecond, from 0 to 366 days.
std::optional<SimMs> ParseSeconds(std::string_view text, std::string *why);

// Splits "A,B,C" at its commas; false (with `why`) unless there are exactly
// `count` fields.
bool SplitFields(const std::string &text, std::size_t count, const char *form,
                 std::vector<std::string> *fields, std::string *why);

// --flap=EVERY,FOR: the R/W answers no poll during the last FOR seconds of
// every EVERY seconds (from EVERY - FOR to EVERY, then again one period
// later), so a soak starts healthy.
class FlapPlan {
 public:
  bool Parse(const std::string &text, std::string *why);
  bool Silent(SimMs now) const;

 private:
  SimMs every_ = 0;  // 0: no flap
  SimMs silentFor_ = 0;
};

// --unplug=AT,FOR, any number of them: the terminal is away from AT to AT +
// FOR seconds after the start. Windows that overlap make one longer absence.
class UnplugPlan {
 public:
  bool Add(const std::string &text, std::string *why);
  bool Away(SimMs now) const;
  // The first moment after `now` at which Away may change; nothing when it
  // never changes again.
  std::optional<SimMs> NextChange(SimMs now) const;

 private:
  std::vector<std::pair<SimMs, SimMs>> windows_;  // from, until (excluded)
};

}  // namespace sim
