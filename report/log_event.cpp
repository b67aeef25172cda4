#include "report/log_event.h"

#include <cstdio>
#include <cstring>
#include <limits>

#include "link/event_log.h"
#include "poll/settings.h"
#include "rapidjson/error/en.h"
#include "rapidjson/reader.h"

namespace logread {
namespace {

constexpr std::int64_t kInt32Max = std::numeric_limits<std::int32_t>::max();
constexpr std::int64_t kInt64Max = std::numeric_limits<std::int64_t>::max();

enum class JsonType { kAbsent, kNull, kBool, kInt, kBigInt, kDouble, kString, kNested };

// The documented fields this reader checks; others are skipped.
enum Field : int {
  kV,
  kT,
  kEv,
  kTool,
  kTitle,
  kVersion,
  kWall,
  kPort,
  kSearch,
  kBaud,
  kKa,
  kKb,
  kKaKcv,
  kKbKcv,
  kAckMs,
  kResponseMs,
  kDes,
  kAttemptsPerRun,
  kRepeat,
  kResultFile,
  kTag,
  kFailureLimit,
  kCommaTerminated,
  kFrames,
  kDevice,
  kOk,
  kError,
  kFrame,
  kWritten,
  kResult,
  kStep,
  kRun,
  kN,
  kMark,
  kUs,
  kFailure,
  kSuccesses,
  kAttempts,
  kRate,
  kRecord,
  kReason,
  kFieldCount,
  kUnknownField = kFieldCount
};
constexpr std::string_view kFieldNames[kFieldCount] = {"v",
                                                       "t",
                                                       "ev",
                                                       "tool",
                                                       "title",
                                                       "version",
                                                       "wall",
                                                       "port",
                                                       "search",
                                                       "baud",
                                                       "ka",
                                                       "kb",
                                                       "ka_kcv",
                                                       "kb_kcv",
                                                       "ack_ms",
                                                       "response_ms",
                                                       "des",
                                                       "attempts_per_run",
                                                       "repeat",
                                                       "result_file",
                                                       "tag",
                                                       "failure_limit",
                                                       "comma_terminated",
                                                       "frames",
                                                       "device",
                                                       "ok",
                                                       "error",
                                                       "frame",
                                                       "written",
                                                       "result",
                                                       "step",
                                                       "run",
                                                       "n",
                                                       "mark",
                                                       "us",
                                                       "failure",
                                                       "successes",
                                                       "attempts",
                                                       "rate",
                                                       "record",
                                                       "reason"};

struct FieldValue {
  JsonType type = JsonType::kAbsent;
  std::int64_t integer = 0;
  double number = 0;
  bool flag = false;
  std::string_view text;  // into the line, which the reader decodes in place
};

// Collects the documented fields of one flat object through the SAX
// interface. Values nested inside a field (which no documented field has)
// are marked as such and not looked into; a field this reader does not know
// may hold them.
class FlatHandler : public rapidjson::BaseReaderHandler<rapidjson::UTF8<>, FlatHandler> {
 public:
  // `escapesNul`: whether the line holds the escape of a NUL character,
  // the only way one gets into a string the JSON reader accepts.
  void Reset(bool escapesNul) {
    for (int i = 0; i < touchedCount_; ++i) values_[touched_[i]].type = JsonType::kAbsent;
    touchedCount_ = 0;
    escapesNul_ = escapesNul;
    depth_ = 0;
    last_ = kUnknownField;
    problem_.clear();
  }
  const std::string &Problem() const { return problem_; }
  const FieldValue &Value(Field field) const { return values_[field]; }
  std::string_view Text(const FieldValue &value) const { return value.text; }
  // A field's value as it was written, for messages: "" when absent or not
  // a number or string.
  std::string AsText(Field field) const {
    const FieldValue &value = values_[field];
    if (value.type == JsonType::kInt) return std::to_string(value.integer);
    if (value.type == JsonType::kString) return std::string(value.text);
    if (value.type != JsonType::kDouble) return "";
    char text[32];
    std::snprintf(text, sizeof text, "%g", value.number);
    return text;
  }

  bool StartObject() { return ++depth_ == 1 || Nested(); }
  bool EndObject(rapidjson::SizeType) { return --depth_, true; }
  bool StartArray() {
    return depth_ == 0 ? Fail("the line is not an object") : (++depth_, Nested());
  }
  bool EndArray(rapidjson::SizeType) { return --depth_, true; }
  bool Key(const char *text, rapidjson::SizeType length, bool) {
    if (depth_ != 1) return true;
    std::string_view key(text, length);
    if (escapesNul_ && key.find('\0') != std::string_view::npos) {
      return Fail("a NUL character in a key");
    }
    current_ = Identify(key);
    if (current_ == kUnknownField) return true;
    if (values_[current_].type != JsonType::kAbsent) {
      return Fail("\"" + std::string(key) + "\" is given twice");
    }
    touched_[touchedCount_++] = current_;
    return true;
  }
  bool Null() { return Scalar(JsonType::kNull); }
  bool Bool(bool value) { return Scalar(JsonType::kBool) && (Set().flag = value, true); }
  bool Int(int value) { return Integer(value); }
  bool Uint(unsigned value) { return Integer(value); }
  bool Int64(std::int64_t value) { return Integer(value); }
  bool Uint64(std::uint64_t value) {
    if (value > static_cast<std::uint64_t>(kInt64Max)) return Scalar(JsonType::kBigInt);
    return Integer(static_cast<std::int64_t>(value));
  }
  bool Double(double value) { return Scalar(JsonType::kDouble) && (Set().number = value, true); }
  bool String(const char *text, rapidjson::SizeType length, bool) {
    if (!Scalar(JsonType::kString) || depth_ != 1) return depth_ != 0;
    if (escapesNul_ && std::memchr(text, '\0', length)) {
      return Fail(current_ == kUnknownField
                      ? std::string("a NUL character in a string")
                      : "a NUL character in \"" + std::string(kFieldNames[current_]) + "\"");
    }
    Set().text = std::string_view(text, length);
    return true;
  }

 private:
  // The tools write the fields in a fixed order, so the field that followed
  // the last one the last time is tried first.
  Field Identify(std::string_view key) {
    Field guess = next_[last_];
    if (guess != kUnknownField && key == kFieldNames[guess]) return last_ = guess;
    Field found = kUnknownField;
    for (int i = 0; i < kFieldCount; ++i) {
      if (key == kFieldNames[i]) found = static_cast<Field>(i);
    }
    next_[last_] = found;
    return last_ = found;
  }
  FieldValue &Set() { return current_ == kUnknownField ? scratch_ : values_[current_]; }
  bool Fail(const std::string &problem) {
    problem_ = problem;
    return false;
  }
  bool Nested() {
    if (depth_ == 2) Set().type = JsonType::kNested;
    return true;
  }
  bool Scalar(JsonType type) {
    if (depth_ == 0) return Fail("the line is not an object");
    if (depth_ == 1) Set().type = type;
    return true;
  }
  bool Integer(std::int64_t value) {
    return Scalar(JsonType::kInt) && (depth_ != 1 || (Set().integer = value, true));
  }

  FieldValue values_[kFieldCount];
  Field touched_[kFieldCount] = {};  // the fields of this line, each once
  int touchedCount_ = 0;
  FieldValue scratch_;  // the value of a field this reader does not know
  Field current_ = kUnknownField;
  Field last_ = kUnknownField;
  Field next_[kFieldCount + 1] = {};
  int depth_ = 0;
  bool escapesNul_ = false;
  std::string problem_;
};

// The checks of documented fields; each returns false with the reason.
class FieldChecker {
 public:
  FieldChecker(const FlatHandler &fields, std::string *error) : fields_(fields), error_(error) {}

  bool Int(Field key, std::int64_t low, std::int64_t high, std::int64_t *out) {
    const FieldValue *field = Find(key);
    if (!field) return false;
    if (field->type == JsonType::kBigInt ||
        (field->type == JsonType::kInt && (field->integer < low || field->integer > high))) {
      return Fail(key,
                  "is out of range (" + std::to_string(low) + " to " + std::to_string(high) + ")");
    }
    if (field->type != JsonType::kInt) return Fail(key, "is not a whole number");
    *out = field->integer;
    return true;
  }
  bool Int(Field key, std::int64_t low, std::int64_t high, int *out) {
    std::int64_t value = 0;
    if (!Int(key, low, high, &value)) return false;
    *out = static_cast<int>(value);
    return true;
  }
  bool Number(Field key, double low, double high, double *out) {
    const FieldValue *field = Find(key);
    if (!field) return false;
    if (field->type == JsonType::kInt) {
      *out = static_cast<double>(field->integer);
    } else if (field->type == JsonType::kDouble) {
      *out = field->number;
    } else {
      return Fail(key, "is not a number");
    }
    if (*out < low || *out > high) return Fail(key, "is out of range");
    return true;
  }
  bool Flag(Field key, bool *out = nullptr) {
    const FieldValue *field = Find(key);
    if (!field) return false;
    if (field->type != JsonType::kBool) return Fail(key, "is not true or false");
    if (out) *out = field->flag;
    return true;
  }
  bool Text(Field key, std::string *out = nullptr) {
    std::string_view text;
    if (!TextOf(key, &text)) return false;
    if (out) out->assign(text);
    return true;
  }
  bool TextOf(Field key, std::string_view *text) {
    const FieldValue *field = Find(key);
    if (!field) return false;
    if (field->type != JsonType::kString) return Fail(key, "is not a string");
    *text = fields_.Text(*field);
    return true;
  }
  // A string that must be one of `choices` (a null-terminated list).
  bool Choice(Field key, const char *const *choices, std::string *out = nullptr) {
    std::string_view value;
    if (!TextOf(key, &value)) return false;
    for (const char *const *c = choices; *c; ++c) {
      if (value == *c) {
        if (out) out->assign(value);
        return true;
      }
    }
    return Fail(key, "is not one of the documented values");
  }
  bool Failure(Field key, int *index) {
    std::string_view value;
    if (!TextOf(key, &value)) return false;
    const std::vector<std::string> &classes = FailureClasses();
    for (std::size_t i = 0; i < classes.size(); ++i) {
      if (classes[i] == value) {
        *index = static_cast<int>(i);
        return true;
      }
    }
    return Fail(key, "is not a failure class");
  }
  // Bytes in hexadecimal, two digits each, separated by single spaces.
  bool HexBytes(Field key) {
    std::string_view value;
    if (!TextOf(key, &value)) return false;
    for (std::size_t i = 0; i < value.size(); ++i) {
      bool ok = i % 3 == 2 ? value[i] == ' ' && i + 1 < value.size() : IsUpperHex(value[i]);
      if (!ok) return Fail(key, "is not bytes in hexadecimal");
    }
    return value.size() % 3 != 1 || Fail(key, "is not bytes in hexadecimal");
  }
  // Exactly `digits` uppercase hexadecimal digits.
  bool HexText(Field key, std::size_t digits) {
    std::string_view value;
    if (!TextOf(key, &value)) return false;
    bool ok = value.size() == digits;
    for (char c : value) ok = ok && IsUpperHex(c);
    return ok || Fail(key, "is not " + std::to_string(digits) + " hexadecimal digits");
  }
  bool Wall(Field key, bool *known, std::int64_t *seconds) {
    std::string_view value;
    if (!TextOf(key, &value)) return false;
    *known = !value.empty();  // the tool writes nothing when the clock failed
    if (*known && !ParseWallClock(value, seconds)) {
      return Fail(key, "is not a UTC time like 2026-12-07T06:40:00Z");
    }
    return true;
  }
  bool Present(Field key) const { return fields_.Value(key).type != JsonType::kAbsent; }
  bool Refuse(Field key, const std::string &what) { return Fail(key, what); }

  static bool ParseWallClock(std::string_view text, std::int64_t *seconds);

 private:
  static bool IsUpperHex(char c) { return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'); }
  const FieldValue *Find(Field key) {
    const FieldValue &value = fields_.Value(key);
    if (value.type != JsonType::kAbsent) return &value;
    *error_ = "no \"" + std::string(kFieldNames[key]) + "\"";
    return nullptr;
  }
  bool Fail(Field key, const std::string &what) {
    *error_ = "\"" + std::string(kFieldNames[key]) + "\" " + what;
    return false;
  }

  const FlatHandler &fields_;
  std::string *error_;
};

// Days since 1970-01-01 of a date of the proleptic Gregorian calendar.
std::int64_t DaysFromCivil(std::int64_t year, int month, int day) {
  year -= month <= 2;
  std::int64_t era = (year >= 0 ? year : year - 399) / 400;
  std::int64_t yearOfEra = year - era * 400;
  std::int64_t dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
  std::int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
  return era * 146097 + dayOfEra - 719468;
}

bool FieldChecker::ParseWallClock(std::string_view text, std::int64_t *seconds) {
  static const char kPattern[] = "dddd-dd-ddTdd:dd:ddZ";
  if (text.size() != sizeof kPattern - 1) return false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    bool digit = text[i] >= '0' && text[i] <= '9';
    if (kPattern[i] == 'd' ? !digit : text[i] != kPattern[i]) return false;
  }
  auto number = [&](int at, int width) {
    int value = 0;
    for (int i = at; i < at + width; ++i) value = value * 10 + (text[i] - '0');
    return value;
  };
  int year = number(0, 4), month = number(5, 2), day = number(8, 2);
  int hour = number(11, 2), minute = number(14, 2), second = number(17, 2);
  static const int kMonthDays[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  if (month < 1 || month > 12 || day < 1 || day > kMonthDays[month - 1] ||
      (month == 2 && day == 29 && !leap) || hour > 23 || minute > 59 || second > 59) {
    return false;
  }
  *seconds = DaysFromCivil(year, month, day) * 86400 + hour * 3600 + minute * 60 + second;
  return true;
}

const char *const kTools[] = {"kestrow", "brimlet", nullptr};
const char *const kMarks[] = {"o", ".", "X", nullptr};
const char *const kFrameChoices[] = {"failures", "all", nullptr};

struct KindName {
  std::string_view name;
  EventKind kind;
};
const KindName kKinds[] = {
    {"start", EventKind::kStart},
    {"open", EventKind::kOpen},
    {"tx", EventKind::kTx},
    {"rx", EventKind::kRx},
    {"auth", EventKind::kAuth},
    {"connect", EventKind::kConnect},
    {"attempt", EventKind::kAttempt},
    {"run", EventKind::kRun},
    {"reconnect", EventKind::kReconnect},
    {"stop", EventKind::kStop},
    {"close", EventKind::kClose},
};

EventKind KindOf(std::string_view name) {
  for (const KindName &k : kKinds) {
    if (name == k.name) return k.kind;
  }
  return EventKind::kOther;
}

bool CheckStart(FieldChecker &f, LogEvent *e) {
  int failureLimit = 0;
  bool search = false, repeat = false, comma = false;
  bool common =
      f.Choice(kTool, kTools, &e->tool) && f.Text(kTitle) && f.Text(kVersion, &e->toolVersion) &&
      f.Wall(kWall, &e->hasWall, &e->wallSeconds) && f.Text(kPort, &e->port) &&
      f.Flag(kSearch, &search) && f.Int(kBaud, 1, kInt32Max, &e->baud) &&
      f.Int(kAckMs, 0, kInt32Max, &e->ackMs) && f.Int(kResponseMs, 0, kInt32Max, &e->responseMs) &&
      f.Flag(kDes, &e->des) && f.Int(kAttemptsPerRun, 1, kMaxAttemptsPerRun, &e->attemptsPerRun) &&
      f.Flag(kRepeat, &repeat) && f.Text(kResultFile, &e->resultFile) &&
      f.Int(kTag, -1, kInt32Max, &e->tag) &&
      f.Int(kFailureLimit, -1, kMaxFailureLimit, &failureLimit) && f.Flag(kCommaTerminated, &comma);
  if (!common) return false;
  if (e->version == 1) return f.HexText(kKa, 16) && f.HexText(kKb, 16);
  return f.HexText(kKaKcv, 6) && f.HexText(kKbKcv, 6) && f.Choice(kFrames, kFrameChoices);
}

bool CheckAttempt(FieldChecker &f, LogEvent *e) {
  std::string mark;
  if (!(f.Int(kRun, 1, kInt32Max, &e->run) && f.Int(kN, 1, kMaxAttemptsPerRun, &e->n) &&
        f.Int(kResult, 0, 255, &e->result) && f.Choice(kMark, kMarks, &mark) &&
        f.Int(kUs, 0, kMaxAttemptUs, &e->us) && f.Failure(kFailure, &e->failure))) {
    return false;
  }
  // The mark is what the console showed for the result.
  const char *expected = e->result == 0 ? "o" : e->result == 2 ? "." : "X";
  return mark == expected || f.Refuse(kMark, "does not match \"result\"");
}

bool CheckRun(FieldChecker &f, LogEvent *e) {
  return f.Int(kRun, 1, kInt32Max, &e->run) &&
         f.Int(kSuccesses, 0, kMaxAttemptsPerRun, &e->successes) &&
         f.Int(kAttempts, 0, kMaxAttemptsPerRun, &e->attempts) &&
         f.Number(kRate, 0, 100, &e->rate) && f.Int(kTag, -1, kInt32Max, &e->tag) &&
         f.Text(kRecord);
}

bool CheckKind(FieldChecker &f, LogEvent *e) {
  bool written = false, des = false;
  switch (e->kind) {
    case EventKind::kStart: return CheckStart(f, e);
    case EventKind::kOpen:
      return f.Text(kDevice, &e->device) && f.Int(kBaud, 1, kInt32Max, &e->baud) &&
             f.Flag(kOk, &e->ok) && (e->ok || f.Text(kError, &e->error));
    case EventKind::kTx: return f.HexBytes(kFrame) && f.Flag(kWritten, &written);
    case EventKind::kRx: return f.HexBytes(kFrame) && f.Int(kResult, 0, 255, &e->result);
    case EventKind::kAuth:
      // brimlet's plain R/W has no DES setting to log.
      return f.Text(kStep) && (!f.Present(kDes) || f.Flag(kDes, &des)) &&
             f.Int(kResult, 0, 255, &e->result) && f.Failure(kFailure, &e->failure);
    case EventKind::kConnect:
      return f.Text(kDevice, &e->device) && f.Int(kBaud, 1, kInt32Max, &e->baud) &&
             f.Flag(kDes, &e->des) && f.Flag(kOk, &e->ok) && f.Int(kResult, 0, 255, &e->result) &&
             f.Failure(kFailure, &e->failure);
    case EventKind::kAttempt: return CheckAttempt(f, e);
    case EventKind::kRun: return CheckRun(f, e);
    case EventKind::kReconnect: return f.Int(kRun, 1, kInt32Max, &e->run) && f.Flag(kOk, &e->ok);
    case EventKind::kStop: return f.Text(kReason, &e->reason);
    case EventKind::kClose: return f.Int(kResult, 0, 255, &e->result);
    case EventKind::kOther: return true;
  }
  return true;
}

// "1 or 2", "1 to 3": the versions this reader takes.
std::string KnownVersions() {
  constexpr int kOldest = eventlog::kOldestReadableVersion, kNewest = eventlog::kFormatVersion;
  std::string oldest = std::to_string(kOldest), newest = std::to_string(kNewest);
  if (kOldest == kNewest) return newest;
  return oldest + (kNewest == kOldest + 1 ? " or " : " to ") + newest;
}

bool IsAscii(std::string_view text) {
  unsigned char any = 0;
  for (char c : text) any |= static_cast<unsigned char>(c);
  return any < 0x80;
}

}  // namespace

const std::vector<std::string> &FailureClasses() {
  // Every value of the enum that has a name, so that a class added to the
  // tools is known here without a second list.
  static const std::vector<std::string> classes = [] {
    std::vector<std::string> names;
    for (int i = 0; i < 256; ++i) {
      std::string name = eventlog::FailureName(static_cast<eventlog::Failure>(i));
      if (name != "unknown") names.push_back(name);
    }
    return names;
  }();
  return classes;
}

struct EventParser::Impl {
  FlatHandler handler;
  rapidjson::Reader reader;
  std::string copy;  // a line given read-only, to be decoded in place
  std::string refusedVersion;
};

EventParser::EventParser() : impl_(new Impl) {}
EventParser::~EventParser() = default;

// The UTF-8 check takes the continuation bytes a lead byte announces without
// stopping at the end of the input: a line cut inside a sequence is checked
// in a copy with room for them.
constexpr std::size_t kUtf8Padding = 4;

bool EventParser::Parse(std::string_view line, LogEvent *event, std::string *error) {
  return Classify(line, event, error) == LineKind::kEvent;
}

bool EventParser::ParseInPlace(char *line, std::size_t length, LogEvent *event,
                               std::string *error) {
  return Read(line, length, event, error) == LineKind::kEvent;
}

LineKind EventParser::Classify(std::string_view line, LogEvent *event, std::string *error) {
  impl_->copy.assign(line.data(), line.size());
  impl_->copy.append(kUtf8Padding, '\0');
  return Read(&impl_->copy[0], line.size(), event, error);
}

const std::string &EventParser::RefusedVersion() const { return impl_->refusedVersion; }

LineKind EventParser::Read(char *line, std::size_t length, LogEvent *event, std::string *error) {
  // The JSON reader takes a NUL byte for the end of its input; looked for
  // before the reader writes its own terminators into the line.
  if (const void *nul = std::memchr(line, '\0', length)) {
    *error = "a NUL byte at column " + std::to_string(static_cast<const char *>(nul) - line + 1);
    return LineKind::kInvalid;
  }
  FlatHandler &handler = impl_->handler;
  std::string_view text(line, length);
  bool ascii = IsAscii(text);
  if (!ascii && line != impl_->copy.data()) return Classify(text, event, error);
  handler.Reset(text.find("\\u0000") != std::string_view::npos);
  // Decoded in place: strings are unescaped over the line itself. Text of
  // ASCII bytes alone is valid UTF-8; only other lines need the reader's
  // check of every byte sequence.
  // Numbers are read without the full-precision flag, which copies every
  // number's digits onto the reader's stack: the only fraction, a rate of
  // two decimals, is checked against its figures with a tolerance.
  rapidjson::InsituStringStream stream(line);
  constexpr unsigned kFlags = rapidjson::kParseInsituFlag;
  rapidjson::ParseResult parsed =
      ascii ? impl_->reader.Parse<kFlags>(stream, handler)
            : impl_->reader.Parse<kFlags | rapidjson::kParseValidateEncodingFlag>(stream, handler);
  if (parsed.IsError()) {
    if (!handler.Problem().empty()) {
      *error = handler.Problem();
      return LineKind::kInvalid;
    }
    std::string reason = rapidjson::GetParseError_En(parsed.Code());
    if (!reason.empty() && reason.back() == '.') reason.pop_back();
    *error = "not JSON: " + reason + " at column " + std::to_string(parsed.Offset() + 1);
    return LineKind::kInvalid;
  }
  FieldChecker fields(handler, error);
  std::int64_t version = 0;
  if (!fields.Int(kV, eventlog::kOldestReadableVersion, eventlog::kFormatVersion, &version)) {
    if (fields.Present(kV)) {
      *error = "format version \"v\" is not one this reader knows (" + KnownVersions() + ")";
    }
    impl_->refusedVersion = handler.AsText(kV);
    return LineKind::kUnknownVersion;
  }
  // Only the fields of the event's kind are set; the others keep what an
  // earlier event left.
  event->version = static_cast<int>(version);
  std::string_view kind;
  if (!fields.Int(kT, 0, kInt64Max, &event->t) || !fields.TextOf(kEv, &kind)) {
    return LineKind::kInvalid;
  }
  event->kind = KindOf(kind);
  return CheckKind(fields, event) ? LineKind::kEvent : LineKind::kInvalid;
}

}  // namespace logread
