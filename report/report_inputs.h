// The inputs of a report read together: result files and event logs, each
// file once, the runs that the figures count, the R/W's losses of every
// log, and the labels of groups named by file.
//
// A log's start names the result file its tool appended to. When that file
// is among the inputs, its records are the runs that count, each taking
// from its log's run (the same figures, in the same order) what the log
// alone knows: the attempts made while the R/W was gone, the planned
// length, the latencies and failure classes. A run is never counted twice:
// with result files given, a log's runs that no record matches are listed
// but not counted; with no result file, every run of the logs counts.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "report/log_reader.h"
#include "report/run_stats.h"

struct InputRequest {
  std::vector<std::string> files;  // "-" is standard input
  GroupBy by = GroupBy::kTag;
  bool skipBad = false;  // read the good records of damaged result files
};

class ReportInputs {
 public:
  // `series` (may be null) receives the logs' attempts as they are read.
  explicit ReportInputs(SeriesBuilder *series = nullptr);
  ~ReportInputs();
  ReportInputs(const ReportInputs &) = delete;
  ReportInputs &operator=(const ReportInputs &) = delete;

  // Reads every input. False with the reason (naming the file, and the
  // line and column where one is wrong) for an input that cannot be read
  // or holds a malformed record or line, or when no input holds a run.
  [[nodiscard]] bool Read(const InputRequest &request, std::string *error);

  // Each input once, in the order given.
  const std::vector<std::string> &Files() const { return files_; }
  // What standard error says: files named twice, stretches of damaged
  // files skipped, runs left out, clocks that jump. One line each.
  const std::vector<std::string> &Notes() const { return notes_; }
  // The runs the figures count.
  const std::vector<const RecordedRun *> &Counted() const { return counted_; }
  const LoggedRuns &Logged() const { return logs_.Runs(); }
  const std::vector<LogSetup> &Setups() const { return logs_.Setups(); }
  // The labels of files and the losses of groups, for BuildReport.
  const GroupingContext &Context() const { return context_; }

  // The figures of the counted runs, grouped as `by` says.
  Report Build(GroupBy by) const { return BuildReport(counted_, by, context_); }

 private:
  struct Input;
  bool Classify(const std::string &path, bool skipBad, std::string *error);
  void LabelFiles();
  bool ReadLog(Input &input, GroupBy by, std::string *error);
  int ResultInputNamed(const std::string &named, const std::string &log);
  void MatchLoggedRuns();
  void CountRuns();
  void CountLosses();

  std::vector<std::unique_ptr<Input>> inputs_;
  std::vector<std::string> files_;
  std::vector<std::string> notes_;
  std::vector<RecordedRun> records_;  // of the result files, in input order
  EventLogReader logs_;
  std::vector<const RecordedRun *> counted_;
  GroupingContext context_;
};
