#include "report/report_inputs.h"

#include <map>
#include <set>
#include <tuple>

#include "report/damaged_records.h"
#include "report/input_files.h"
#include "report/log_event.h"

namespace {

// The bytes that tell a log from a result file: a log's first line (a
// start event) is far shorter.
constexpr std::size_t kPrefixBytes = 65536;

// The `result_file` of a log's first event, when it is a start.
std::string FirstResultFile(const std::string &prefix) {
  std::size_t begin = prefix.find_first_not_of(" \t\r\n");
  if (begin == std::string::npos) return "";
  std::size_t end = prefix.find('\n', begin);
  if (end == std::string::npos) return "";
  logread::EventParser parser;
  logread::LogEvent event;
  std::string ignored;
  std::string_view line(prefix.data() + begin, end - begin);
  if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  if (!parser.Parse(line, &event, &ignored) || event.kind != logread::EventKind::kStart) return "";
  return event.resultFile;
}

// The folder of a path, with its separator; empty for none.
std::string FolderOf(const std::string &path) {
  std::size_t slash = path.find_last_of("/\\");
  return slash == std::string::npos ? "" : path.substr(0, slash + 1);
}

bool IsAbsolute(const std::string &path) {
  return (!path.empty() && (path[0] == '/' || path[0] == '\\')) ||
         (path.size() > 1 && path[1] == ':');
}

}  // namespace

struct ReportInputs::Input {
  std::string path;
  bool log = false;
  bool identified = false;
  platform::FileIdentity identity;
  // Logs: the bytes read to tell them, and standard input kept open so
  // that the rest follows them; the input of the result file that the
  // first start names, or -1.
  std::string prefix;
  std::unique_ptr<InputFile> standardInput;
  int joins = -1;
  // Result files: their records in records_.
  std::size_t firstRecord = 0, endRecord = 0;
  std::map<std::string, int> resolved;  // result_file names already looked up
};

ReportInputs::ReportInputs(SeriesBuilder *series) : logs_(series) {}
ReportInputs::~ReportInputs() = default;

bool ReportInputs::Read(const InputRequest &request, std::string *error) {
  std::map<platform::FileIdentity, std::string> seen;
  for (const std::string &path : request.files) {
    platform::FileIdentity identity;
    bool identified = IdentifyInput(path, &identity);
    if (identified) {
      auto [it, added] = seen.emplace(identity, path);
      if (!added) {
        notes_.push_back(path + " is the same file as " + it->second + "; read once");
        continue;
      }
    }
    if (!Classify(path, request.skipBad, error)) return false;
    inputs_.back()->identified = identified;
    inputs_.back()->identity = identity;
    files_.push_back(path);
  }
  for (const auto &input : inputs_) {
    if (input->log) input->joins = ResultInputNamed(FirstResultFile(input->prefix), input->path);
  }
  LabelFiles();
  logs_.ResolveResultFilesWith([this](const std::string &named, const std::string &log) {
    return ResultInputNamed(named, log);
  });
  for (const auto &input : inputs_) {
    if (input->log && !ReadLog(*input, request.by, error)) return false;
  }
  const std::vector<std::string> &logNotes = logs_.Notes();
  notes_.insert(notes_.end(), logNotes.begin(), logNotes.end());
  MatchLoggedRuns();
  CountRuns();
  CountLosses();
  if (counted_.empty() && Logged().empty()) {
    *error = "the files hold no records";
    return false;
  }
  return true;
}

// Opens an input and tells a log from a result file by its first
// character; a result file is read whole now, a log later as a stream.
bool ReportInputs::Classify(const std::string &path, bool skipBad, std::string *error) {
  auto input = std::make_unique<Input>();
  input->path = path;
  auto file = std::make_unique<InputFile>();
  std::string text;
  if (!file->Open(path, error) || !file->Read(kPrefixBytes, &text, error)) return false;
  input->log = LooksLikeEventLog(text);
  if (input->log) {
    input->prefix = std::move(text);
    if (path == kStandardInput) input->standardInput = std::move(file);
    inputs_.push_back(std::move(input));
    return true;
  }
  if (!file->Read(0, &text, error)) return false;
  std::vector<ParsedRecord> records;
  if (skipBad) {
    ParseGoodResultRecords(text, path, &records, &notes_);
  } else if (!ParseResultRecords(text, path, &records, error)) {
    return false;
  }
  input->firstRecord = records_.size();
  for (const ParsedRecord &r : records) records_.push_back(RecordedRun{path, r.position, r.record});
  input->endRecord = records_.size();
  inputs_.push_back(std::move(input));
  return true;
}

// Groups named by file are the result files, and the logs that name none
// of them: their labels are unique among them. A log that names a result
// file given counts in that file's group.
void ReportInputs::LabelFiles() {
  std::vector<std::string> principal;
  for (const auto &input : inputs_) {
    if (!input->log || input->joins < 0) principal.push_back(input->path);
  }
  std::vector<std::string> labels = UniqueFileLabels(principal);
  for (std::size_t i = 0; i < principal.size(); ++i) context_.fileLabels[principal[i]] = labels[i];
  for (const auto &input : inputs_) {
    if (input->log && input->joins >= 0) {
      context_.fileLabels[input->path] = context_.fileLabels[inputs_[input->joins]->path];
    }
  }
}

bool ReportInputs::ReadLog(Input &input, GroupBy by, std::string *error) {
  std::string group = by == GroupBy::kFile ? context_.fileLabels[input.path] : "";
  if (input.standardInput) {
    return logs_.Read(input.standardInput->Stream(), input.prefix, input.path, group, error);
  }
  InputFile file;
  return file.Open(input.path, error) && logs_.Read(file.Stream(), "", input.path, group, error);
}

// The input that a start's `result_file` is: the name as the tool was given
// it, relative to the log's folder (where the tool most often ran) or to
// ours. -1 when it is none of the result files given.
int ReportInputs::ResultInputNamed(const std::string &named, const std::string &log) {
  if (named.empty()) return -1;
  Input *logInput = nullptr;
  for (const auto &input : inputs_) {
    if (input->path == log) logInput = input.get();
  }
  if (logInput) {
    auto cached = logInput->resolved.find(named);
    if (cached != logInput->resolved.end()) return cached->second;
  }
  std::vector<std::string> candidates = {named};
  if (!IsAbsolute(named) && log != kStandardInput)
    candidates.insert(candidates.begin(), FolderOf(log) + named);
  int found = -1;
  for (const std::string &candidate : candidates) {
    platform::FileIdentity identity;
    if (found >= 0 || !platform::IdentifyFile(candidate, &identity)) continue;
    for (std::size_t i = 0; i < inputs_.size(); ++i) {
      if (!inputs_[i]->log && inputs_[i]->identified && inputs_[i]->identity == identity) {
        found = static_cast<int>(i);
      }
    }
  }
  if (logInput) logInput->resolved[named] = found;
  return found;
}

// Each logged run of a start that names a result file given takes the
// first record of that file, at or after the one its log matched last,
// with the same successes, attempts and tag.
void ReportInputs::MatchLoggedRuns() {
  using Figures = std::tuple<int, int, bool, int>;
  std::map<int, std::map<Figures, std::set<std::size_t>>> unmatched;  // per result input
  std::map<std::pair<std::string, int>, std::size_t> cursor;          // per log and result input
  for (LoggedRun &run : logs_.Runs()) {
    if (run.resultInput < 0) continue;
    auto [files, added] = unmatched.try_emplace(run.resultInput);
    if (added) {
      const Input &input = *inputs_[run.resultInput];
      for (std::size_t i = input.firstRecord; i < input.endRecord; ++i) {
        const ResultRecord &r = records_[i].record;
        files->second[Figures{r.successes, r.attempts, r.tagged, r.tag}].insert(i);
      }
    }
    const ResultRecord &r = run.record;
    std::set<std::size_t> &same = files->second[Figures{r.successes, r.attempts, r.tagged, r.tag}];
    std::size_t &from = cursor[{run.file, run.resultInput}];
    auto it = same.lower_bound(from);
    if (it == same.end()) continue;
    RecordedRun &record = records_[*it];
    record.lossAttempts = run.lossAttempts;
    if (record.plannedAttempts == 0) record.plannedAttempts = run.plannedAttempts;
    record.log = &run;
    from = *it + 1;
    same.erase(it);
  }
}

// The records of the result files when there are any, else the runs of the
// logs.
void ReportInputs::CountRuns() {
  if (!records_.empty()) {
    for (const RecordedRun &run : records_) counted_.push_back(&run);
    return;
  }
  for (LoggedRun &run : logs_.Runs()) {
    run.log = &run;
    counted_.push_back(&run);
  }
}

// The losses of the logs whose runs count: every log when no result file
// is given, else the starts that name one.
void ReportInputs::CountLosses() {
  for (const LogLoss &loss : logs_.Losses()) {
    if (!records_.empty() && loss.resultInput < 0) continue;
    GroupLosses &group = context_.losses[loss.group];
    ++group.spans;
    group.attempts += loss.episode.attempts;
    group.seconds += loss.episode.Seconds();
    group.goneAtEnd = group.goneAtEnd || !loss.episode.ended;
  }
}
