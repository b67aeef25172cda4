#include "sim/soak_plan.h"

#include <cmath>
#include <sstream>

#include "poll/number_text.h"

namespace sim {

namespace {

constexpr double kMaxSeconds = 366.0 * 24 * 3600;

}  // namespace

std::optional<SimMs> ParseSeconds(std::string_view text, std::string *why) {
  std::optional<double> seconds = numtext::ParseDecimalFraction(text, why);
  if (!seconds) return std::nullopt;
  if (*seconds > kMaxSeconds) {
    if (why) *why = "seconds from 0 to 31622400 (366 days) are expected";
    return std::nullopt;
  }
  return static_cast<SimMs>(std::llround(*seconds * 1000.0));
}

bool SplitFields(const std::string &text, std::size_t count, const char *form,
                 std::vector<std::string> *fields, std::string *why) {
  fields->clear();
  std::stringstream parts(text);
  std::string part;
  while (std::getline(parts, part, ',')) fields->push_back(part);
  if (!text.empty() && text.back() == ',') fields->push_back("");
  if (fields->size() == count) return true;
  if (why) *why = std::string(form) + " is expected";
  return false;
}

namespace {

// Two times in seconds, "A,B", as `form` names them.
std::optional<std::pair<SimMs, SimMs>> ParseTwoTimes(const std::string &text, const char *form,
                                                     std::string *why) {
  std::vector<std::string> fields;
  if (!SplitFields(text, 2, form, &fields, why)) return std::nullopt;
  std::optional<SimMs> first = ParseSeconds(fields[0], why);
  std::optional<SimMs> second = first ? ParseSeconds(fields[1], why) : std::nullopt;
  if (!second) return std::nullopt;
  return std::make_pair(*first, *second);
}

}  // namespace

bool FlapPlan::Parse(const std::string &text, std::string *why) {
  auto times = ParseTwoTimes(text, "EVERY,FOR (seconds)", why);
  if (!times) return false;
  auto [every, silentFor] = *times;
  if (silentFor <= 0 || silentFor >= every) {
    if (why) *why = "FOR above 0 and below EVERY is expected";
    return false;
  }
  every_ = every;
  silentFor_ = silentFor;
  return true;
}

bool FlapPlan::Silent(SimMs now) const {
  if (every_ == 0 || now < 0) return false;
  return now % every_ >= every_ - silentFor_;
}

bool UnplugPlan::Add(const std::string &text, std::string *why) {
  auto times = ParseTwoTimes(text, "AT,FOR (seconds)", why);
  if (!times) return false;
  auto [at, away] = *times;
  if (away <= 0) {
    if (why) *why = "FOR above 0 is expected";
    return false;
  }
  windows_.emplace_back(at, at + away);
  return true;
}

bool UnplugPlan::Away(SimMs now) const {
  for (const auto &[from, until] : windows_) {
    if (now >= from && now < until) return true;
  }
  return false;
}

std::optional<SimMs> UnplugPlan::NextChange(SimMs now) const {
  std::optional<SimMs> next;
  for (const auto &[from, until] : windows_) {
    for (SimMs edge : {from, until}) {
      if (edge > now && (!next || edge < *next)) next = edge;
    }
  }
  return next;
}

}  // namespace sim
