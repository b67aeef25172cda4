// Event log lines as their fields, read with a JSON library of their own,
// not with the reader under test: strings unescaped; numbers, true, false
// and null as they were written.
#pragma once

#include <map>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "rapidjson/error/en.h"
#include "rapidjson/reader.h"

using EventFields = std::map<std::string, std::string>;

namespace eventfields {

// Takes the members of one flat object; anything nested is refused.
class FlatObject : public rapidjson::BaseReaderHandler<rapidjson::UTF8<>, FlatObject> {
 public:
  explicit FlatObject(EventFields *fields) : fields_(fields) {}
  bool StartObject() { return ++depth_ == 1; }
  bool EndObject(rapidjson::SizeType) { return --depth_ == 0; }
  bool Key(const char *text, rapidjson::SizeType length, bool) {
    key_.assign(text, length);
    return true;
  }
  bool String(const char *text, rapidjson::SizeType length, bool) {
    return Value(std::string(text, length));
  }
  bool RawNumber(const char *text, rapidjson::SizeType length, bool) {
    return Value(std::string(text, length));
  }
  bool Bool(bool value) { return Value(value ? "true" : "false"); }
  bool Null() { return Value("null"); }
  bool Default() { return false; }  // arrays

 private:
  bool Value(std::string value) {
    if (depth_ != 1) return false;
    (*fields_)[key_] = std::move(value);
    return true;
  }
  EventFields *fields_;
  std::string key_;
  int depth_ = 0;
};

}  // namespace eventfields

// One line's fields. False, with the reason, for a line that is not one flat
// JSON object.
inline bool ReadEventFields(const std::string &line, EventFields *fields, std::string *error) {
  fields->clear();
  eventfields::FlatObject handler(fields);
  rapidjson::Reader reader;
  rapidjson::StringStream stream(line.c_str());
  rapidjson::ParseResult parsed =
      reader.Parse<rapidjson::kParseNumbersAsStringsFlag | rapidjson::kParseValidateEncodingFlag>(
          stream, handler);
  if (!parsed.IsError()) return true;
  *error = std::string(rapidjson::GetParseError_En(parsed.Code())) + " at column " +
           std::to_string(parsed.Offset() + 1);
  return false;
}

// The lines of an event log, each as its fields. A line that does not parse,
// or a last line without its line feed, fails the test.
inline std::vector<EventFields> EventsIn(const std::string &text) {
  std::vector<EventFields> events;
  std::size_t start = 0;
  for (std::size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1) {
    EventFields fields;
    std::string error;
    EXPECT_TRUE(ReadEventFields(text.substr(start, end - start), &fields, &error)) << error;
    events.push_back(fields);
  }
  EXPECT_EQ(start, text.size()) << "a line without its end";
  return events;
}
