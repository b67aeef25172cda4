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

bool FlapPlan::Parse(const std::string &text, std::string *why) {
  std::vector<std::string> fields;
  if (!SplitFields(text, 2, "EVERY,FOR (seconds)", &fields, why)) return false;
  std::optional<SimMs> every = ParseSeconds(fields[0], why);
  std::optional<SimMs> silentFor = every ? ParseSeconds(fields[1], why) : std::nullopt;
  if (!silentFor) return false;
  if (*silentFor <= 0 || *silentFor >= *every) {
    if (why) *why = "FOR above 0 and below EVERY is expected";
    return false;
  }
  every_ = *every;
  silentFor_ = *silentFor;
  return true;
}

bool FlapPlan::Silent(SimMs now) const {
  if (every_ == 0 || now < 0) return false;
  return now % every_ >= every_ - silentFor_;
}

bool UnplugPlan::Add(const std::string &text, std::string *why) {
  std::vector<std::string> fields;
  if (!SplitFields(text, 2, "AT,FOR (seconds)", &fields, why)) return false;
  std::optional<SimMs> at = ParseSeconds(fields[0], why);
  std::optional<SimMs> away = at ? ParseSeconds(fields[1], why) : std::nullopt;
  if (!away) return false;
  if (*away <= 0) {
    if (why) *why = "FOR above 0 is expected";
    return false;
  }
  windows_.emplace_back(*at, *at + *away);
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
