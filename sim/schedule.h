// What the simulated R/W does on which attempt: whether a card is in the
// field, and which faults to inject.
#pragma once

#include <cstdint>
#include <map>
#include <random>
#include <set>
#include <string>

namespace sim {

// Card presence per polling attempt (numbered from 1 over the simulator's
// whole life): always, never, a repeating pattern of 'o' (card) and '.'
// (none), a probability with a seed, or a probability that drifts with the
// simulator's clock.
class CardSchedule {
 public:
  // Accepts "always", "never", a pattern such as "ooo.o", or "p=0.75"; on a
  // refusal `why` (when given) says what is expected.
  bool Parse(const std::string &text, std::string *why = nullptr);
  // "P1,P2,SECONDS": the probability moves in a straight line from P1 at the
  // start to P2 SECONDS later, and stays at P2. Replaces what Parse set, as
  // Parse replaces a drift.
  bool ParseDrift(const std::string &text, std::string *why = nullptr);
  void Seed(std::uint32_t seed) { random_.seed(seed); }
  // Draws the card of an attempt made `now` ms after the simulator's start
  // (which only a drift looks at). Probabilities draw from the seeded
  // generator, one number per attempt.
  bool Present(int attempt, std::int64_t now = 0);
  // The probability of a card at `now`; below 0 when a pattern decides.
  double ProbabilityAt(std::int64_t now) const;

 private:
  std::string pattern_ = "o";
  double probability_ = -1;  // < 0: the pattern decides; the start of a drift
  double driftTo_ = 0;
  std::int64_t driftMs_ = 0;  // 0: no drift
  std::mt19937 random_{1};
};

enum class Fault {
  kNoAck,          // no ACK, no response
  kNoResponse,     // ACK only
  kBadChecksum,    // response with a wrong data checksum
  kWrongCode,      // response code not the command code + 1
  kShortAnswer,    // response cut short
  kAckDelay,       // ACK after a pause
  kResponseDelay,  // response after a pause
  kWrongMac,       // secured: the answer's MAC does not match
  kWrongCounter,   // secured: the answer carries the command's own counter
  kWrongAuth,      // secured: the challenge answer is wrong
  kBabble,         // no ACK; from then on bytes without pause, for ever
  kTrickle,        // ACK and response one byte at a time, a pause apart
  kGarbage,        // noise before the ACK
  kSecondAck,      // a second ACK where the response belongs
};

// Which command a fault targets: the N-th poll, the N-th connection (the
// open command, or the authentication), or the N-th close command.
enum class Target { kPoll, kConnect, kClose };

struct FaultSet {
  std::set<Fault> faults;
  int ackDelayMs = 0;
  int responseDelayMs = 0;
  int trickleMs = 0;
  bool Has(Fault f) const { return faults.count(f) != 0; }
};

class FaultPlan {
 public:
  // Parses "KIND@LIST", LIST being comma-separated items N, N-M, cN, xN;
  // KIND one of no-ack, no-response, bad-checksum, wrong-code, short,
  // ack-delay=MS, response-delay=MS, trickle=MS, babble, garbage,
  // second-ack, wrong-mac,
  // wrong-counter, wrong-auth.
  // Returns an error text, empty when accepted.
  std::string Add(const std::string &request);
  FaultSet For(Target target, int number) const;

 private:
  std::map<std::pair<Target, int>, FaultSet> plan_;
};

}  // namespace sim
