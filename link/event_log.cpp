#include "link/event_log.h"

#include <chrono>
#include <cstring>

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

// A small reader for the flat objects the log holds.
class LineReader {
 public:
  explicit LineReader(std::string_view text) : text_(text) {}

  bool Object(Fields *fields, std::string *error) {
    SkipSpace();
    if (!Take('{')) return Fail(error, "expected '{'");
    SkipSpace();
    if (Take('}')) return AtEnd(error);
    for (;;) {
      std::string key, value;
      SkipSpace();
      if (!String(&key)) return Fail(error, "expected a quoted key");
      SkipSpace();
      if (!Take(':')) return Fail(error, "expected ':' after \"" + key + "\"");
      SkipSpace();
      if (!Value(&value)) return Fail(error, "bad value of \"" + key + "\"");
      (*fields)[key] = value;
      SkipSpace();
      if (Take('}')) return AtEnd(error);
      if (!Take(',')) return Fail(error, "expected ',' or '}'");
    }
  }

 private:
  bool Fail(std::string *error, const std::string &what) {
    *error = what + " at column " + std::to_string(pos_ + 1);
    return false;
  }
  bool AtEnd(std::string *error) {
    SkipSpace();
    return pos_ == text_.size() || Fail(error, "text after the object");
  }
  void SkipSpace() {
    while (pos_ < text_.size() && std::strchr(" \t\r\n", text_[pos_]) && text_[pos_]) ++pos_;
  }
  bool Take(char c) {
    if (pos_ < text_.size() && text_[pos_] == c) {
      ++pos_;
      return true;
    }
    return false;
  }
  bool String(std::string *out) {
    if (!Take('"')) return false;
    while (pos_ < text_.size()) {
      char c = text_[pos_++];
      if (c == '"') return true;
      if (c != '\\') {
        *out += c;
        continue;
      }
      if (pos_ >= text_.size()) return false;
      char e = text_[pos_++];
      if (e == 'u') {
        if (!Unicode(out)) return false;
      } else if (std::strchr("\"\\/", e)) {
        *out += e;
      } else if (e == 'n') {
        *out += '\n';
      } else if (e == 't') {
        *out += '\t';
      } else if (e == 'r') {
        *out += '\r';
      } else {
        return false;
      }
    }
    return false;  // no closing quote
  }
  // \u00XX only: the log escapes control characters and nothing else.
  bool Unicode(std::string *out) {
    if (pos_ + 4 > text_.size()) return false;
    unsigned value = 0;
    for (int i = 0; i < 4; ++i) {
      char h = text_[pos_++];
      int digit = h >= '0' && h <= '9'   ? h - '0'
                  : h >= 'a' && h <= 'f' ? h - 'a' + 10
                  : h >= 'A' && h <= 'F' ? h - 'A' + 10
                                         : -1;
      if (digit < 0) return false;
      value = value * 16 + static_cast<unsigned>(digit);
    }
    if (value > 0x7F) return false;
    *out += static_cast<char>(value);
    return true;
  }
  bool Value(std::string *out) {
    if (pos_ < text_.size() && text_[pos_] == '"') return String(out);
    std::size_t start = pos_;
    while (pos_ < text_.size() && std::strchr("+-.0123456789eEtruefalsn", text_[pos_]) &&
           text_[pos_]) {
      ++pos_;
    }
    *out = std::string(text_.substr(start, pos_ - start));
    return !out->empty();
  }

  std::string_view text_;
  std::size_t pos_ = 0;
};

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

bool ParseLine(std::string_view line, Fields *fields, std::string *error) {
  fields->clear();
  return LineReader(line).Object(fields, error);
}

}  // namespace eventlog
