#include "report/junit_report.h"

#include <cstdio>

#include "report/comparisons.h"
#include "report/judgement.h"

namespace {

std::string Hex(unsigned char byte) {
  char text[8];
  std::snprintf(text, sizeof text, "\\x%02X", byte);
  return text;
}

// The length of the UTF-8 sequence at `i` that XML 1.0 can hold, 0 when
// there is none there.
std::size_t XmlCharAt(const std::string &text, std::size_t i) {
  unsigned char c = static_cast<unsigned char>(text[i]);
  if (c < 0x80) return c >= 0x20 || c == '\t' || c == '\n' || c == '\r' ? 1 : 0;
  std::size_t length = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC2 ? 2 : 0;
  if (length == 0 || c > 0xF4 || i + length > text.size()) return 0;
  unsigned long code = c & (0x7F >> length);
  for (std::size_t k = 1; k < length; ++k) {
    unsigned char next = static_cast<unsigned char>(text[i + k]);
    if ((next & 0xC0) != 0x80) return 0;
    code = code << 6 | (next & 0x3F);
  }
  bool shortest = code >= (length == 2 ? 0x80UL : length == 3 ? 0x800UL : 0x10000UL);
  bool allowed = code < 0x110000 && (code < 0xD800 || code > 0xDFFF) && code != 0xFFFE &&
                 code != 0xFFFF && (code < 0x80 || code > 0x9F);
  return shortest && allowed ? length : 0;
}

std::string Xml(const std::string &text, bool attribute) {
  std::string out;
  for (std::size_t i = 0; i < text.size();) {
    std::size_t length = XmlCharAt(text, i);
    if (length == 0) {
      out += Hex(static_cast<unsigned char>(text[i++]));
      continue;
    }
    switch (text[i]) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      case '\'': out += "&apos;"; break;
      // Attribute values would turn tabs and line ends to blanks, and text
      // a CR to a line feed: as references they stay.
      case '\t': out += attribute ? "&#9;" : "\t"; break;
      case '\n': out += attribute ? "&#10;" : "\n"; break;
      case '\r': out += "&#13;"; break;
      default: out.append(text, i, length);
    }
    i += length;
  }
  return out;
}

std::string Percent(double value, int decimals) { return FixedN(value, decimals) + " %"; }

// The figures and losses of a group, for its system-out.
std::string GroupOutput(const GroupStats &g) {
  std::string out = g.attempts == 0
                        ? std::string("card finding: no attempt")
                        : "card finding: " + std::to_string(g.successes) + " of " +
                              std::to_string(g.attempts) + " attempts in " +
                              CountOf(g.runs, "run", "runs") + ", " + Fixed2(g.pooledPercent) +
                              " %, 95 % interval " + Fixed2(g.interval.low) + " % to " +
                              Fixed2(g.interval.high) + " %";
  bool lost = g.losses.spans > 0 || !g.lossOnlyRuns.empty();
  return out + "\nR/W losses: " + (lost ? LossText(g) : "none") + "\n";
}

// The element that says why a group did not pass, empty when it did.
std::string Outcome(const GroupStats &g, const ReportRequest &request, GroupBy by) {
  std::string name = GroupName(g, by);
  if (g.attempts == 0) {
    return "<failure type=\"no card finding\" message=\"" +
           XmlAttribute(name + ": no card-finding attempt (R/W losses: " + LossText(g) + ")") +
           "\"/>";
  }
  GroupJudgement judged = JudgeGroup(g, by, request.requiredPercent);
  if (!judged.gated || judged.verdict == Verdict::kPass) return "";
  double required = request.requiredPercent;
  int decimals = DecimalsBeside(required, {g.interval.low, g.interval.high, g.pooledPercent});
  std::string figures = Percent(g.pooledPercent, decimals) + ", 95 % interval " +
                        Percent(g.interval.low, decimals) + " to " +
                        Percent(g.interval.high, decimals);
  if (judged.verdict == Verdict::kFail) {
    return "<failure type=\"below the required rate\" message=\"" +
           XmlAttribute(name + ": " + figures + ", below the required " + RequiredText(required) +
                        " %") +
           "\"/>";
  }
  GateResult gate = ApplyGate(g, required);
  std::string need = gate.toPass.reach == Reach::kAttempts
                         ? "; a pass needs " + std::to_string(gate.toPass.attempts) +
                               " attempts at its rate, " + std::to_string(gate.moreAttempts) +
                               " more"
                         : "; more attempts cannot show it at its rate";
  return "<skipped message=\"" +
         XmlAttribute(name + ": undecided: " + figures + " holds the required " +
                      RequiredText(required) + " %" + need) +
         "\"/>";
}

}  // namespace

std::string XmlText(const std::string &text) { return Xml(text, false); }
std::string XmlAttribute(const std::string &text) { return Xml(text, true); }

std::string JunitReport(const Report &report, const ReportRequest &request,
                        const std::string &timestamp) {
  int failures = 0, skipped = 0;
  std::string cases;
  for (const GroupStats &g : report.tags) {
    std::string outcome = Outcome(g, request, report.by);
    failures += outcome.rfind("<failure", 0) == 0;
    skipped += outcome.rfind("<skipped", 0) == 0;
    cases += "    <testcase classname=\"card finding\" name=\"" + XmlText(GroupName(g, report.by)) +
             "\">" + outcome + "<system-out>" + XmlText(GroupOutput(g)) +
             "</system-out></testcase>\n";
  }
  std::string suite =
      request.requiredPercent < 0
          ? std::string("card finding")
          : "card finding against a required " + RequiredText(request.requiredPercent) + " %";
  std::string counts = " tests=\"" + std::to_string(report.tags.size()) + "\" failures=\"" +
                       std::to_string(failures) + "\" errors=\"0\"";
  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<testsuites name=\"rwreport\"" + counts +
         ">\n  <testsuite name=\"" + XmlAttribute(suite) + "\"" + counts + " skipped=\"" +
         std::to_string(skipped) + "\" timestamp=\"" + XmlAttribute(timestamp) + "\">\n" + cases +
         "  </testsuite>\n</testsuites>\n";
}
