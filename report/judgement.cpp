#include "report/judgement.h"

#include <new>

#include "report/comparisons.h"
#include "report/report_inputs.h"

GroupJudgement JudgeGroup(const GroupStats &group, GroupBy by, double requiredPercent) {
  GroupJudgement judged;
  judged.label = group.label;
  judged.name = GroupName(group, by);
  judged.attempts = group.attempts;
  judged.successes = group.successes;
  judged.runs = group.runs;
  judged.ratePercent = group.pooledPercent;
  judged.interval = group.interval;
  judged.gated = requiredPercent >= 0;
  if (judged.gated) judged.verdict = ApplyGate(group, requiredPercent).verdict;
  judged.losses = group.losses;
  return judged;
}

std::optional<Judgement> Judge(const JudgementRequest &request, std::string *error) {
  try {
    ReportInputs inputs;
    Judgement judgement;
    bool read = inputs.Read(InputRequest{request.files, request.by, false}, error);
    judgement.notes = inputs.Notes();
    if (!read) return std::nullopt;
    Report report = inputs.Build(request.by);
    for (const GroupStats &group : report.tags) {
      judgement.groups.push_back(JudgeGroup(group, request.by, request.requiredPercent));
    }
    return judgement;
  } catch (const std::bad_alloc &) {
    *error = "out of memory: the figures of these inputs need more memory than the system allows";
    return std::nullopt;
  }
}
