// Reading what is good in a damaged result file: a record cut short by a
// full disk, with the next run appended behind it, spoils its line for the
// strict reader.
#pragma once

#include <string>
#include <vector>

#include "poll/result_record.h"

// The records of `text` that read well. Where reading fails, the text up to
// the next rate ("87.00%") is left out and described in `skipped` as
// "FILE:LINE:COLUMN: reason; skipped "TEXT"", so that the good records
// beside a damaged one on the same line are kept.
void ParseGoodResultRecords(const std::string &text, const std::string &fileName,
                            std::vector<ParsedRecord> *records, std::vector<std::string> *skipped);
