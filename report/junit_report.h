// The verdicts in the JUnit XML format that CI servers read as test
// results: one test case per group (reader), failed when its card-finding
// rate is shown below the required one, skipped when undecided, passed
// otherwise; its figures and R/W losses in its system-out. Without a
// required rate every group with card-finding attempts passes. A group
// without any (its R/W was gone for every attempt) fails either way.
#pragma once

#include <string>

#include "report/report_output.h"

// `timestamp`: when the report was made, as 2026-12-07T06:40:00.
std::string JunitReport(const Report &report, const ReportRequest &request,
                        const std::string &timestamp);

// `text` fit for XML character data: &, <, >, " and ' as entities, and
// what XML 1.0 cannot hold (control characters but tab and line feed,
// bytes that are not UTF-8, U+FFFE and U+FFFF) and C1 controls as \xHH.
std::string XmlText(const std::string &text);
// The same for an attribute value, with tabs and line ends as references.
std::string XmlAttribute(const std::string &text);
