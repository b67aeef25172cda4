#include "poll/result_record.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "poll/settings.h"

namespace {

// The four record formats: with or without tag, ended by a comma or a line feed.
const char kUntaggedComma[] = "%6.2lf%%,%4d,%4d,";
const char kTaggedComma[] = "%6.2lf%%,%4d,%4d,%4d,";
const char kUntaggedLine[] = "%6.2lf%%,%4d,%4d\n";
const char kTaggedLine[] = "%6.2lf%%,%4d,%4d,%4d\n";

constexpr int kMaxIntDigits = 10;

// Walks a result file's text field by field, keeping line and column.
class RecordReader {
 public:
  RecordReader(const std::string &text, const std::string &fileName)
      : text_(text), fileName_(fileName) {}

  bool ReadAll(std::vector<ParsedRecord> *records) {
    for (;;) {
      SkipWhitespace();
      if (AtEnd()) return true;
      ParsedRecord parsed;
      parsed.position = position_;
      if (!ReadRecord(&parsed.record)) return false;
      records->push_back(parsed);
    }
  }

  const std::string &Error() const { return error_; }

 private:
  bool ReadRecord(ResultRecord *record) {
    if (!ReadRate(&record->rate) || !ExpectComma("after the rate")) return false;
    if (!ReadInt("successes", &record->successes) || !ExpectComma("after the successes")) {
      return false;
    }
    RecordPosition attemptsAt = SkipSpacesAndMark();
    if (!ReadInt("attempts", &record->attempts)) return false;
    if (!ReadTerminator()) return false;
    if (lastTerminator_ == ',' && NextFieldIsTag()) {
      if (!ReadInt("tag", &record->tag) || !ReadTerminator()) return false;
      record->tagged = true;
    }
    return CheckFigures(*record, attemptsAt);
  }

  bool CheckFigures(const ResultRecord &record, RecordPosition at) {
    const char *problem = RecordFiguresProblem(record);
    return problem ? Fail(at, problem) : true;
  }

  // After a comma that may end the record: the next field is its tag unless
  // it is the next record's rate (it carries a percent sign) or nothing.
  bool NextFieldIsTag() const {
    std::size_t p = pos_;
    while (p < text_.size() && text_[p] == ' ') ++p;
    if (p >= text_.size() || text_[p] == '\n' || text_[p] == '\r') return false;
    for (; p < text_.size() && text_[p] != ',' && text_[p] != '\n'; ++p) {
      if (text_[p] == '%') return false;
    }
    return true;
  }

  bool ReadRate(double *rate) {
    RecordPosition at = SkipSpacesAndMark();
    std::size_t start = pos_;
    int digits = 0, points = 0;
    while (!AtEnd() && (IsDigit(Peek()) || Peek() == '.')) {
      (Peek() == '.' ? points : digits)++;
      Advance();
    }
    if (digits == 0 || points > 1 || AtEnd() || Peek() != '%') {
      return Fail(at, "expected a rate such as \" 87.00%\"");
    }
    *rate = std::strtod(text_.substr(start, pos_ - start).c_str(), nullptr);
    Advance();  // the percent sign
    if (*rate > 100.0) return Fail(at, "a rate above 100%");
    return true;
  }

  bool ReadInt(const char *what, int *value) {
    RecordPosition at = SkipSpacesAndMark();
    long long number = 0;
    int digits = 0;
    while (!AtEnd() && IsDigit(Peek()) && digits <= kMaxIntDigits) {
      number = number * 10 + (Peek() - '0');
      ++digits;
      Advance();
    }
    if (digits == 0 || digits > kMaxIntDigits || number > 2147483647LL) {
      return Fail(at, std::string("expected a whole number (") + what + ")");
    }
    *value = static_cast<int>(number);
    return true;
  }

  bool ExpectComma(const char *where) {
    if (!AtEnd() && Peek() == ',') {
      Advance();
      return true;
    }
    return Fail(position_, std::string("expected ',' ") + where);
  }

  // A record ends with a comma or a line feed (CR LF where the file was
  // written in text mode on Windows).
  bool ReadTerminator() {
    if (!AtEnd() && Peek() == '\r' && pos_ + 1 < text_.size() && text_[pos_ + 1] == '\n') {
      Advance();
    }
    if (!AtEnd() && (Peek() == ',' || Peek() == '\n')) {
      lastTerminator_ = Peek();
      Advance();
      return true;
    }
    return Fail(position_, "expected ',' or a line feed at the end of the record");
  }

  void SkipWhitespace() {
    while (!AtEnd() && (Peek() == ' ' || Peek() == '\t' || Peek() == '\r' || Peek() == '\n')) {
      Advance();
    }
  }

  RecordPosition SkipSpacesAndMark() {
    while (!AtEnd() && Peek() == ' ') Advance();
    return position_;
  }

  bool Fail(RecordPosition at, const std::string &what) {
    error_ =
        fileName_ + ":" + std::to_string(at.line) + ":" + std::to_string(at.column) + ": " + what;
    return false;
  }

  static bool IsDigit(char c) { return c >= '0' && c <= '9'; }
  bool AtEnd() const { return pos_ >= text_.size(); }
  char Peek() const { return text_[pos_]; }
  void Advance() {
    if (text_[pos_] == '\n') {
      ++position_.line;
      position_.column = 1;
    } else {
      ++position_.column;
    }
    ++pos_;
  }

  const std::string &text_;
  const std::string &fileName_;
  std::size_t pos_ = 0;
  RecordPosition position_;
  char lastTerminator_ = 0;
  std::string error_;
};

}  // namespace

int FormatResultRecord(char *out, double rate, int successes, int attempts, int tag,
                       bool commaTerminated) {
  if (tag == kNoRecordTag) {
    return std::snprintf(out, kMaxRecordText, commaTerminated ? kUntaggedComma : kUntaggedLine,
                         rate, successes, attempts);
  }
  return std::snprintf(out, kMaxRecordText, commaTerminated ? kTaggedComma : kTaggedLine, rate,
                       successes, attempts, tag);
}

bool ParseResultRecords(const std::string &text, const std::string &fileName,
                        std::vector<ParsedRecord> *records, std::string *error) {
  RecordReader reader(text, fileName);
  if (reader.ReadAll(records)) return true;
  *error = reader.Error();
  return false;
}

const char *RecordFiguresProblem(const ResultRecord &record) {
  if (record.attempts < 1) return "a record needs at least one attempt";
  if (record.successes < 0) return "fewer than no successes";
  if (record.successes > record.attempts) return "more successes than attempts";
  double expected = 100.0 * record.successes / record.attempts;
  if (std::fabs(record.rate - expected) > 0.005 + 1e-9) {
    return "the rate does not match successes and attempts";
  }
  return nullptr;
}
