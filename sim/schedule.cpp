#include "sim/schedule.h"

#include <optional>
#include <sstream>
#include <vector>

#include "poll/number_text.h"
#include "sim/soak_plan.h"

namespace sim {

bool CardSchedule::Parse(const std::string &text, std::string *why) {
  probability_ = -1;
  driftMs_ = 0;
  if (text == "always") {
    pattern_ = "o";
  } else if (text == "never") {
    pattern_ = ".";
  } else if (text.rfind("p=", 0) == 0) {
    std::optional<double> probability = numtext::ParseProbability(text.substr(2), why);
    if (probability) probability_ = *probability;
    return probability.has_value();
  } else if (text.empty() || text.find_first_not_of("o.") != std::string::npos) {
    if (why) *why = "always, never, a pattern of o and . or p=PROBABILITY is expected";
    return false;
  } else {
    pattern_ = text;
  }
  return true;
}

bool CardSchedule::ParseDrift(const std::string &text, std::string *why) {
  std::vector<std::string> fields;
  if (!SplitFields(text, 3, "P1,P2,SECONDS", &fields, why)) return false;
  std::optional<double> from = numtext::ParseProbability(fields[0], why);
  std::optional<double> to = from ? numtext::ParseProbability(fields[1], why) : std::nullopt;
  std::optional<SimMs> span = to ? ParseSeconds(fields[2], why) : std::nullopt;
  if (!span) return false;
  if (*span <= 0) {
    if (why) *why = "SECONDS above 0 are expected";
    return false;
  }
  probability_ = *from;
  driftTo_ = *to;
  driftMs_ = *span;
  return true;
}

double CardSchedule::ProbabilityAt(std::int64_t now) const {
  if (driftMs_ == 0 || probability_ < 0) return probability_;
  if (now >= driftMs_) return driftTo_;
  double share = now <= 0 ? 0.0 : static_cast<double>(now) / static_cast<double>(driftMs_);
  return probability_ + (driftTo_ - probability_) * share;
}

bool CardSchedule::Present(int attempt, std::int64_t now) {
  double probability = ProbabilityAt(now);
  if (probability >= 0) return std::uniform_real_distribution<double>(0, 1)(random_) < probability;
  return pattern_[static_cast<std::size_t>(attempt - 1) % pattern_.size()] == 'o';
}

namespace {

// Attempt numbers and delays: up to nine digits, so that a range's end plus
// one is still an int.
bool ParseNumber(const std::string &text, int *value) {
  std::optional<std::uint64_t> number = numtext::ParseWholeNumber(text, 0, 999999999, nullptr);
  if (number) *value = static_cast<int>(*number);
  return number.has_value();
}

bool ParseKind(const std::string &kind, Fault *fault, int *delay) {
  static const std::map<std::string, Fault> kKinds = {{"no-ack", Fault::kNoAck},
                                                      {"no-response", Fault::kNoResponse},
                                                      {"bad-checksum", Fault::kBadChecksum},
                                                      {"wrong-code", Fault::kWrongCode},
                                                      {"short", Fault::kShortAnswer},
                                                      {"wrong-mac", Fault::kWrongMac},
                                                      {"wrong-counter", Fault::kWrongCounter},
                                                      {"wrong-auth", Fault::kWrongAuth},
                                                      {"babble", Fault::kBabble},
                                                      {"garbage", Fault::kGarbage},
                                                      {"second-ack", Fault::kSecondAck}};
  std::size_t eq = kind.find('=');
  if (eq != std::string::npos) {
    std::string name = kind.substr(0, eq);
    if (name == "ack-delay") {
      *fault = Fault::kAckDelay;
    } else if (name == "response-delay") {
      *fault = Fault::kResponseDelay;
    } else if (name == "trickle") {
      *fault = Fault::kTrickle;
    } else {
      return false;
    }
    return ParseNumber(kind.substr(eq + 1), delay);
  }
  auto it = kKinds.find(kind);
  if (it == kKinds.end()) return false;
  *fault = it->second;
  return true;
}

}  // namespace

std::string FaultPlan::Add(const std::string &request) {
  std::size_t at = request.find('@');
  Fault fault;
  int delay = 0;
  if (at == std::string::npos || !ParseKind(request.substr(0, at), &fault, &delay)) {
    return "unknown fault: " + request;
  }
  std::stringstream items(request.substr(at + 1));
  std::string item;
  while (std::getline(items, item, ',')) {
    Target target = Target::kPoll;
    if (!item.empty() && (item[0] == 'c' || item[0] == 'x')) {
      target = item[0] == 'c' ? Target::kConnect : Target::kClose;
      item.erase(0, 1);
    }
    std::size_t dash = item.find('-');
    int first = 0, last = 0;
    bool ok = dash == std::string::npos ? ParseNumber(item, &first) && ParseNumber(item, &last)
                                        : ParseNumber(item.substr(0, dash), &first) &&
                                              ParseNumber(item.substr(dash + 1), &last);
    if (!ok || first < 1 || last < first || last - first > 1000000) {
      return "bad attempt list in: " + request;
    }
    for (int n = first; n <= last; ++n) {
      FaultSet &set = plan_[{target, n}];
      set.faults.insert(fault);
      if (fault == Fault::kAckDelay) set.ackDelayMs = delay;
      if (fault == Fault::kResponseDelay) set.responseDelayMs = delay;
      if (fault == Fault::kTrickle) set.trickleMs = delay;
    }
  }
  return "";
}

FaultSet FaultPlan::For(Target target, int number) const {
  auto it = plan_.find({target, number});
  return it == plan_.end() ? FaultSet{} : it->second;
}

}  // namespace sim
