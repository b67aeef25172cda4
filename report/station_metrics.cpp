#include "report/station_metrics.h"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <iterator>

#include <rapidjson/encodings.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include "link/event_log.h"
#include "report/run_stats.h"

std::string ValidUtf8(std::string_view text) {
  // RapidJSON's decoder judges one character at a time; a byte that starts
  // no valid character becomes U+FFFD and the next byte is judged anew.
  struct Input {
    using Ch = char;
    std::string_view text;
    std::size_t at = 0;
    Ch Peek() const { return at < text.size() ? text[at] : '\0'; }
    Ch Take() { return at < text.size() ? text[at++] : '\0'; }
    std::size_t Tell() const { return at; }
  };
  struct Output {
    std::string *out;
    void Put(char c) { out->push_back(c); }
  };
  std::string out;
  out.reserve(text.size());
  Input in{text};
  while (in.at < text.size()) {
    std::size_t start = in.at, kept = out.size();
    Output sink{&out};
    if (!rapidjson::UTF8<>::Validate(in, sink)) {
      out.resize(kept);
      out += "\xEF\xBF\xBD";
      in.at = start + 1;
    }
  }
  return out;
}

namespace {

void AppendNumber(std::string *out, double value) {
  if (std::isnan(value)) {
    *out += "NaN";
  } else if (std::isinf(value)) {
    *out += value > 0 ? "+Inf" : "-Inf";
  } else {
    char text[32];
    auto result = std::to_chars(text, std::end(text), value);
    out->append(text, result.ptr);
  }
}

// A label value per the exposition format: backslash, double quote and
// line feed escaped; the rest as it is, made valid UTF-8.
void AppendLabelValue(std::string *out, std::string_view value) {
  for (char c : ValidUtf8(value)) {
    if (c == '\\') {
      *out += "\\\\";
    } else if (c == '"') {
      *out += "\\\"";
    } else if (c == '\n') {
      *out += "\\n";
    } else {
      *out += c;
    }
  }
}

void AppendLabel(std::string *out, const char *name, std::string_view value) {
  *out += name;
  *out += "=\"";
  AppendLabelValue(out, value);
  *out += '"';
}

// The labels every series of a reader carries.
std::string ReaderLabels(const StationSnapshot &station, const ReaderSnapshot &reader) {
  std::string labels;
  AppendLabel(&labels, "station", station.name);
  labels += ',';
  AppendLabel(&labels, "reader", reader.name);
  labels += ',';
  AppendLabel(&labels, "tool", reader.tool);
  labels += ',';
  AppendLabel(&labels, "port", reader.port);
  return labels;
}

struct ReaderCounter {
  const char *name;
  const char *help;
  double (*value)(const ReaderSnapshot &reader);
};

const ReaderCounter kReaderCounters[] = {
    {"rw_attempts_total", "Polling attempts made.",
     [](const ReaderSnapshot &r) { return double(r.attempts); }},
    {"rw_successes_total", "Attempts that found a card.",
     [](const ReaderSnapshot &r) { return double(r.successes); }},
    {"rw_runs_total", "Runs the reader completed.",
     [](const ReaderSnapshot &r) { return double(r.runs); }},
    {"rw_tool_starts_total", "Times the reader's tool was started.",
     [](const ReaderSnapshot &r) { return double(r.starts); }},
    {"rw_reconnections_total", "Reconnections to the R/W between or within runs.",
     [](const ReaderSnapshot &r) { return double(r.reconnections); }},
    {"rw_losses_total", "Times the R/W was lost (its port went away).",
     [](const ReaderSnapshot &r) { return double(r.losses.episodes); }},
    {"rw_lost_attempts_total", "Attempts made while the R/W was gone.",
     [](const ReaderSnapshot &r) { return double(r.losses.attempts); }},
    {"rw_lost_seconds_total", "Seconds the R/W was gone.",
     [](const ReaderSnapshot &r) { return r.losses.seconds; }},
};

class Exposition {
 public:
  explicit Exposition(const StationSnapshot &station) : station_(station) {
    for (const ReaderSnapshot &reader : station.readers)
      labels_.push_back(ReaderLabels(station, reader));
    // Each reader takes about a hundred lines of about 120 bytes.
    out_.reserve(4096 + station.readers.size() * 12000);
  }

  std::string Text() {
    StationFamilies();
    for (const ReaderCounter &counter : kReaderCounters) {
      Family(counter.name, "counter", counter.help);
      for (std::size_t i = 0; i < labels_.size(); ++i)
        Sample(counter.name, labels_[i], "", counter.value(station_.readers[i]));
    }
    Failures();
    States();
    PollDurations();
    Gauges();
    return std::move(out_);
  }

 private:
  void Family(const char *name, const char *type, const char *help) {
    out_ += "# HELP ";
    out_ += name;
    out_ += ' ';
    out_ += help;
    out_ += "\n# TYPE ";
    out_ += name;
    out_ += ' ';
    out_ += type;
    out_ += '\n';
  }

  // name{labels,extra} value; `extra` is one more label already written.
  void Sample(std::string_view name, const std::string &labels, std::string_view extra,
              double value) {
    out_ += name;
    out_ += '{';
    out_ += labels;
    if (!extra.empty()) {
      out_ += ',';
      out_ += extra;
    }
    out_ += "} ";
    AppendNumber(&out_, value);
    out_ += '\n';
  }

  void StationFamilies() {
    std::string station;
    AppendLabel(&station, "station", station_.name);
    std::string version;
    AppendLabel(&version, "version", station_.version);
    Family("rw_station_info", "gauge", "The station's program version; always 1.");
    Sample("rw_station_info", station, version, 1);
    Family("rw_station_start_time_seconds", "gauge", "When the station started, in unix time.");
    Sample("rw_station_start_time_seconds", station, "", station_.startTime);
  }

  // Every failure class for every reader, zeros included, so that a class's
  // series exists before its first failure and increase() sees that one.
  void Failures() {
    Family("rw_failures_total", "counter", "Failed attempts by failure class.");
    for (std::size_t i = 0; i < labels_.size(); ++i) {
      const auto &failures = station_.readers[i].failures;
      for (int f = 1; f <= static_cast<int>(eventlog::kLastFailure); ++f) {
        const char *name = eventlog::FailureName(static_cast<eventlog::Failure>(f));
        auto found = failures.find(name);
        ClassSample("rw_failures_total", labels_[i], name,
                    found == failures.end() ? 0 : found->second);
      }
      for (const auto &[name, count] : failures) {
        if (!IsKnownFailure(name)) ClassSample("rw_failures_total", labels_[i], name, count);
      }
    }
  }

  static bool IsKnownFailure(const std::string &name) {
    for (int f = 0; f <= static_cast<int>(eventlog::kLastFailure); ++f) {
      if (name == eventlog::FailureName(static_cast<eventlog::Failure>(f))) return true;
    }
    return false;
  }

  void ClassSample(const char *family, const std::string &labels, std::string_view name,
                   double value) {
    std::string label;
    AppendLabel(&label, "class", name);
    Sample(family, labels, label, value);
  }

  void States() {
    Family("rw_reader_state", "gauge", "The reader's state: 1 for the current one, 0 for others.");
    for (std::size_t i = 0; i < labels_.size(); ++i) {
      const std::string &current = station_.readers[i].state;
      bool listed = false;
      for (const char *state : kReaderStateNames) {
        listed = listed || current == state;
        StateSample(labels_[i], state, current == state);
      }
      if (!listed) StateSample(labels_[i], current, true);
    }
  }

  void StateSample(const std::string &labels, std::string_view state, bool current) {
    std::string label;
    AppendLabel(&label, "state", state);
    Sample("rw_reader_state", labels, label, current ? 1 : 0);
  }

  void PollDurations() {
    const char *name = "rw_poll_duration_seconds";
    Family(name, "histogram", "How long a polling attempt took, in seconds.");
    for (std::size_t i = 0; i < labels_.size(); ++i) {
      const ::PollDurations &durations = station_.readers[i].pollDurations;
      std::uint64_t cumulative = 0;
      for (std::size_t b = 0; b < kPollBucketBounds.size(); ++b) {
        cumulative += durations.counts[b];
        std::string le = "le=\"";
        AppendNumber(&le, kPollBucketBounds[b]);
        le += '"';
        Sample("rw_poll_duration_seconds_bucket", labels_[i], le, double(cumulative));
      }
      std::uint64_t count = durations.Count();
      Sample("rw_poll_duration_seconds_bucket", labels_[i], "le=\"+Inf\"", double(count));
      Sample("rw_poll_duration_seconds_sum", labels_[i], "", durations.sumSeconds);
      Sample("rw_poll_duration_seconds_count", labels_[i], "", double(count));
    }
  }

  void Gauges() {
    Family("rw_last_attempt_timestamp_seconds", "gauge",
           "When the reader's last attempt ended, in unix time.");
    for (std::size_t i = 0; i < labels_.size(); ++i) {
      const auto &time = station_.readers[i].lastAttemptTime;
      if (time) Sample("rw_last_attempt_timestamp_seconds", labels_[i], "", *time);
    }
    if (!station_.requiredRate) return;
    Family("rw_required_success_ratio", "gauge",
           "The success ratio every reader must show (0 to 1).");
    for (const std::string &labels : labels_)
      Sample("rw_required_success_ratio", labels, "", *station_.requiredRate);
  }

  const StationSnapshot &station_;
  std::vector<std::string> labels_;
  std::string out_;
};

using JsonWriter = rapidjson::Writer<rapidjson::StringBuffer>;

void JsonText(JsonWriter *json, const char *key, std::string_view value) {
  json->Key(key);
  std::string valid = ValidUtf8(value);
  json->String(valid.data(), static_cast<rapidjson::SizeType>(valid.size()));
}

// A number, or null for none (and for what JSON cannot hold).
void JsonNumber(JsonWriter *json, const char *key, std::optional<double> value) {
  json->Key(key);
  if (value && std::isfinite(*value)) {
    json->Double(*value);
  } else {
    json->Null();
  }
}

void JsonCount(JsonWriter *json, const char *key, long long value) {
  json->Key(key);
  json->Int64(value);
}

template <typename Counts>
void JsonCounts(JsonWriter *json, const char *key, const Counts &counts) {
  json->Key(key);
  json->StartArray();
  for (auto count : counts) json->Int64(static_cast<std::int64_t>(count));
  json->EndArray();
}

void JsonStation(JsonWriter *json, const StationSnapshot &s) {
  json->Key("station");
  json->StartObject();
  JsonText(json, "name", s.name);
  JsonText(json, "version", s.version);
  JsonText(json, "title", s.title);
  JsonText(json, "session", s.session);
  JsonNumber(json, "start_time", s.startTime);
  JsonNumber(json, "time", s.time);
  JsonNumber(json, "required_rate", s.requiredRate);
  json->Key("poll_bucket_bounds");
  json->StartArray();
  for (double bound : kPollBucketBounds) json->Double(bound);
  json->EndArray();
  json->EndObject();
}

void JsonRate(JsonWriter *json, long long successes, long long attempts) {
  std::optional<double> rate, low, high;
  if (attempts > 0) {
    Interval interval = WilsonInterval(successes, attempts);
    rate = double(successes) / double(attempts);
    low = interval.low;
    high = interval.high;
  }
  JsonNumber(json, "rate", rate);
  JsonNumber(json, "rate_low", low);
  JsonNumber(json, "rate_high", high);
}

void JsonReaderDetails(JsonWriter *json, const ReaderSnapshot &r) {
  json->Key("failures");
  json->StartObject();
  for (const auto &[name, count] : r.failures) {
    std::string valid = ValidUtf8(name);
    json->Key(valid.data(), static_cast<rapidjson::SizeType>(valid.size()));
    json->Int64(count);
  }
  json->EndObject();
  json->Key("losses");
  json->StartObject();
  JsonCount(json, "episodes", r.losses.episodes);
  JsonCount(json, "attempts", r.losses.attempts);
  JsonNumber(json, "seconds", r.losses.seconds);
  json->EndObject();
  json->Key("poll_durations");
  json->StartObject();
  JsonCounts(json, "counts", r.pollDurations.counts);
  JsonNumber(json, "sum", r.pollDurations.sumSeconds);
  JsonCount(json, "count", static_cast<long long>(r.pollDurations.Count()));
  json->EndObject();
  json->Key("recent");
  json->StartObject();
  JsonCount(json, "bin_seconds", r.recent.binSeconds);
  JsonNumber(json, "newest_start", double(r.recent.newestStart));
  JsonCounts(json, "attempts", r.recent.attempts);
  JsonCounts(json, "successes", r.recent.successes);
  json->EndObject();
}

void JsonReader(JsonWriter *json, const ReaderSnapshot &r) {
  json->StartObject();
  JsonText(json, "name", r.name);
  JsonText(json, "tool", r.tool);
  JsonText(json, "port", r.port);
  JsonText(json, "state", r.state);
  JsonText(json, "cause", r.cause);
  JsonCount(json, "starts", r.starts);
  JsonCount(json, "runs", r.runs);
  JsonCount(json, "attempts", r.attempts);
  JsonCount(json, "successes", r.successes);
  JsonRate(json, r.successes, r.attempts);
  JsonCount(json, "reconnections", r.reconnections);
  JsonNumber(json, "last_attempt_time", r.lastAttemptTime);
  JsonText(json, "last_marks", r.lastMarks);
  JsonReaderDetails(json, r);
  json->EndObject();
}

// The figures of all readers together, as the terminal's total line gives
// them.
void JsonTotal(JsonWriter *json, const StationSnapshot &s) {
  long long runs = 0, attempts = 0, successes = 0, running = 0, failed = 0;
  for (const ReaderSnapshot &r : s.readers) {
    runs += r.runs;
    attempts += r.attempts;
    successes += r.successes;
    failed += r.state == "failed";
    running += r.state != "failed" && r.state != "stopped";
  }
  json->Key("total");
  json->StartObject();
  JsonCount(json, "readers", static_cast<long long>(s.readers.size()));
  JsonCount(json, "running", running);
  JsonCount(json, "failed", failed);
  JsonCount(json, "runs", runs);
  JsonCount(json, "attempts", attempts);
  JsonCount(json, "successes", successes);
  JsonRate(json, successes, attempts);
  json->EndObject();
}

}  // namespace

std::string MetricsText(const StationSnapshot &snapshot) { return Exposition(snapshot).Text(); }

std::string StatusJson(const StationSnapshot &snapshot) {
  rapidjson::StringBuffer buffer;
  JsonWriter json(buffer);
  json.StartObject();
  JsonCount(&json, "format", kStatusFormat);
  JsonStation(&json, snapshot);
  JsonTotal(&json, snapshot);
  json.Key("readers");
  json.StartArray();
  for (const ReaderSnapshot &reader : snapshot.readers) JsonReader(&json, reader);
  json.EndArray();
  json.EndObject();
  return std::string(buffer.GetString(), buffer.GetSize());
}
