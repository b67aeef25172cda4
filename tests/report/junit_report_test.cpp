// The verdicts as JUnit XML: a test case per group with the outcome its
// gate gives, and text from files made fit for XML whatever it holds.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "report/junit_report.h"
#include "report/run_stats.h"

namespace {

RecordedRun TaggedRun(int successes, int attempts, int tag, int lossAttempts = 0) {
  RecordedRun run;
  run.file = "r.csv";
  run.record = ResultRecord{100.0 * successes / attempts, successes, attempts, true, tag};
  run.lossAttempts = lossAttempts;
  return run;
}

TEST(XmlTextTest, WhatXmlCannotHoldIsWrittenOut) {
  EXPECT_EQ(XmlText("a<b>&\"c'"), "a&lt;b&gt;&amp;&quot;c&apos;");
  // Control characters, a C1 control, bytes that are not UTF-8, an
  // encoded surrogate and U+FFFE; tab and line feed stay in text.
  EXPECT_EQ(XmlText(std::string("\x1b]0;x\x07\x00|\t\n|", 11)), "\\x1B]0;x\\x07\\x00|\t\n|");
  EXPECT_EQ(XmlText("\xc2\x85|\xff|\xc3|\xed\xa0\x80|\xef\xbf\xbe"),
            "\\xC2\\x85|\\xFF|\\xC3|\\xED\\xA0\\x80|\\xEF\\xBF\\xBE");
  EXPECT_EQ(XmlText("\xc3\xa9t\xc3\xa9 \xe2\x88\x92 \xf0\x9f\x93\xa1"),
            "\xc3\xa9t\xc3\xa9 \xe2\x88\x92 \xf0\x9f\x93\xa1");  // UTF-8 stays
  EXPECT_EQ(XmlText("\xc0\xaf"), "\\xC0\\xAF");                  // an overlong '/'
  EXPECT_EQ(XmlAttribute("a\tb\nc\rd"), "a&#9;b&#10;c&#13;d");
}

// Tag 1: 381/381 passes 99 %; tag 2: 380/380 is undecided; tag 3: 85/100
// fails; tag 4: every attempt made while the R/W was gone.
TEST(JunitReportTest, ACasePerGroupFailedSkippedOrPassed) {
  std::vector<RecordedRun> runs = {TaggedRun(381, 381, 1), TaggedRun(380, 380, 2),
                                   TaggedRun(85, 100, 3), TaggedRun(0, 40, 4, 40)};
  Report report = BuildReport(runs);
  ReportRequest request;
  request.requiredPercent = 99;
  std::string xml = JunitReport(report, request, "2026-12-07T06:40:00");
  EXPECT_NE(xml.find("<testsuites name=\"rwreport\" tests=\"4\" failures=\"2\" errors=\"0\">"),
            std::string::npos)
      << xml;
  EXPECT_NE(
      xml.find("<testsuite name=\"card finding against a required 99.00 %\" tests=\"4\" "
               "failures=\"2\" errors=\"0\" skipped=\"1\" timestamp=\"2026-12-07T06:40:00\">"),
      std::string::npos)
      << xml;
  EXPECT_NE(xml.find("<testcase classname=\"card finding\" name=\"tag 1\"><system-out>card "
                     "finding: 381 of 381 attempts in 1 run, 100.00 %, 95 % interval 99.00 % to "
                     "100.00 %\nR/W losses: none\n</system-out></testcase>"),
            std::string::npos)
      << xml;
  EXPECT_NE(xml.find("name=\"tag 2\"><skipped message=\"tag 2: undecided: 100.000 %, 95 % "
                     "interval 98.999 % to 100.000 % holds the required 99.00 %; a pass needs "
                     "381 attempts at its rate, 1 more\"/>"),
            std::string::npos)
      << xml;
  EXPECT_NE(xml.find("name=\"tag 3\"><failure type=\"below the required rate\" message=\"tag 3: "
                     "85.00 %, 95 % interval 76.72 % to 90.69 %, below the required 99.00 %\"/>"),
            std::string::npos)
      << xml;
  EXPECT_NE(xml.find("name=\"tag 4\"><failure type=\"no card finding\" message=\"tag 4: no "
                     "card-finding attempt (R/W losses: 0 spans, 0 attempts, 0.0 s; 1 run wholly "
                     "without the R/W)\"/>"),
            std::string::npos)
      << xml;
  // Without a required rate only a group without card finding fails.
  xml = JunitReport(report, ReportRequest{}, "2026-12-07T06:40:00");
  EXPECT_NE(xml.find("<testsuite name=\"card finding\" tests=\"4\" failures=\"1\" errors=\"0\" "
                     "skipped=\"0\""),
            std::string::npos)
      << xml;
}

}  // namespace
