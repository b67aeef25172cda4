#include "link/event_log.h"

#include <chrono>

#include "link/hex_text.h"

namespace eventlog {
namespace {

void AppendQuoted(std::string &out, std::string_view text) {
  out += '"';
  for (char c : text) {
    auto byte = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (byte < 0x20) {
      out += "\\u00";
      hex::AppendByte(out, byte, hex::Letters::kLower);
    } else {
      out += c;  // UTF-8 and other bytes pass as they are
    }
  }
  out += '"';
}

}  // namespace

const char *FailureName(Failure failure) {
  switch (failure) {
    case Failure::kNone: return "none";
    case Failure::kNoCard: return "no card";
    case Failure::kNoAck: return "no ACK";
    case Failure::kNoResponse: return "no response";
    case Failure::kBadChecksum: return "bad checksum";
    case Failure::kBadFrame: return "bad frame";
    case Failure::kWrongAnswerCode: return "wrong answer code";
    case Failure::kBadMac: return "bad MAC";
    case Failure::kCounterMismatch: return "counter mismatch";
    case Failure::kWrongAnswer: return "wrong answer";
    case Failure::kPortError: return "port error";
    case Failure::kNoCardOrNoAnswer: return "no card or no answer";
    case Failure::kStopped: return "stopped";
  }
  return "unknown";
}

Event::Event(const char *kind) : kind_(kind) {}

void Event::Key(const char *key) {
  fields_ += ',';
  AppendQuoted(fields_, key);
  fields_ += ':';
}

Event &Event::Text(const char *key, std::string_view value) {
  Key(key);
  AppendQuoted(fields_, value);
  return *this;
}

Event &Event::Int(const char *key, long long value) {
  Key(key);
  fields_ += std::to_string(value);
  return *this;
}

Event &Event::Fixed(const char *key, double value, int decimals) {
  char text[64];
  std::snprintf(text, sizeof text, "%.*f", decimals, value);
  Key(key);
  fields_ += text;
  return *this;
}

Event &Event::Flag(const char *key, bool value) {
  Key(key);
  fields_ += value ? "true" : "false";
  return *this;
}

Event &Event::HexBytes(const char *key, const std::uint8_t *bytes, int count) {
  return Text(key, hex::Format(bytes, count > 0 ? static_cast<std::size_t>(count) : 0));
}

std::string Event::Line(std::int64_t timeUs) const {
  std::string line =
      "{\"v\":" + std::to_string(kFormatVersion) + ",\"t\":" + std::to_string(timeUs) + ",\"ev\":";
  AppendQuoted(line, kind_);
  line += fields_;
  line += "}\n";
  return line;
}

std::int64_t NowUs() {
  using namespace std::chrono;
  return duration_cast<microseconds>(steady_clock::now().time_since_epoch()).count();
}

}  // namespace eventlog
