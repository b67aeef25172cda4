// The verdict on card finding per group, computed as rwreport computes it
// (the same reading of the inputs, the same figures and gate), for a
// program that needs it without running rwreport: rwstation's closing line.
//
//   JudgementRequest request;
//   request.files = {"unit1.txt", "unit1.log", "unit2.txt", "unit2.log"};
//   request.by = GroupBy::kFile;
//   request.requiredPercent = 99;  // or -1: no gate
//   std::string error;
//   std::optional<Judgement> judged = Judge(request, &error);
//   if (!judged) ... error names the input and why ...
//   for (const GroupJudgement &g : judged->groups) ... g.label, g.verdict ...
//
// Attempts made while a reader's R/W was gone (its port failed, the device
// went away, a reconnection failed) are not card finding: they are in
// `losses`, not in the rate, and never decide the gate. Result files alone
// cannot tell them apart; give each reader's event log beside its result
// file, as rwstation does, and the log's figures count for those runs.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "report/run_stats.h"

struct JudgementRequest {
  std::vector<std::string> files;  // result files and event logs, as rwreport takes them
  GroupBy by = GroupBy::kTag;      // rwreport's --by
  double requiredPercent = -1;     // rwreport's --require; no gate when negative
};

struct GroupJudgement {
  std::string label;                      // as rwreport's tables name the group: "unit1", "7", "-"
  std::string name;                       // as its sentences do: "unit1", "tag 7", "no tag"
  long long attempts = 0;                 // card-finding attempts
  long long successes = 0;                // of them
  int runs = 0;                           // runs with card-finding attempts
  double ratePercent = 0;                 // successes over attempts; 0 without attempts
  Interval interval{0, 100};              // 95 % Wilson interval of the rate, in percent
  bool gated = false;                     // a rate was required
  Verdict verdict = Verdict::kUndecided;  // with `gated`
  GroupLosses losses;  // spans, attempts and seconds without the R/W; gone at the end
};

struct Judgement {
  std::vector<GroupJudgement> groups;  // in rwreport's order
  // What rwreport says on standard error about the inputs (files named
  // twice, runs left out, clocks that jump), one line each.
  std::vector<std::string> notes;
};

// Reads `request.files` and judges each group. Nothing, with the reason in
// `error` (rwreport's message without its "rwreport: "), when an input
// cannot be read, holds a malformed record or line, or no input holds a
// run, or when memory runs out.
std::optional<Judgement> Judge(const JudgementRequest &request, std::string *error);

// The judgement of one group of a report built as rwreport builds it.
GroupJudgement JudgeGroup(const GroupStats &group, GroupBy by, double requiredPercent);
