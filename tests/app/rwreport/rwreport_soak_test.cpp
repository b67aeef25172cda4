// rwreport on what a lab soak leaves: 8 readers polled for 12 hours, each
// with its result file and event log, some losing their R/W
// (bench/make_soak_logs.py), reported as rwstation asks. The page printed
// on A4 keeps to a few pages, and no page ends with a heading; the JUnit
// file validates.
#include <unistd.h>

#include <cstdio>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/browser.h"
#include "tests/support/process.h"
#include "tests/support/scratch_dir.h"
#include "tests/support/text_files.h"

namespace {

constexpr int kMostPages = 12;

std::string Trimmed(const std::string &text) {
  std::size_t first = text.find_first_not_of(" \t\f");
  if (first == std::string::npos) return "";
  return text.substr(first, text.find_last_not_of(" \t\f") - first + 1);
}

// The texts of the page's headings, as a reader of the PDF finds them.
std::set<std::string> Headings(const std::string &html) {
  std::set<std::string> headings;
  std::regex heading("<h[1-3]>([^<]*)</h[1-3]>");
  for (auto it = std::sregex_iterator(html.begin(), html.end(), heading);
       it != std::sregex_iterator(); ++it) {
    std::string text = (*it)[1];
    for (const auto &[entity, character] : std::vector<std::pair<std::string, std::string>>{
             {"&lt;", "<"}, {"&gt;", ">"}, {"&quot;", "\""}, {"&amp;", "&"}}) {
      for (std::size_t at; (at = text.find(entity)) != std::string::npos;) {
        text.replace(at, entity.size(), character);
      }
    }
    headings.insert(text);
  }
  return headings;
}

// The last line with text on page `page` of the PDF.
std::string LastLine(const std::string &pdf, int page) {
  RunResult text = RunProgram("/usr/bin/pdftotext", {"-layout", "-f", std::to_string(page), "-l",
                                                     std::to_string(page), pdf, "-"});
  std::string last;
  std::size_t start = 0;
  for (std::size_t end; (end = text.out.find('\n', start)) != std::string::npos; start = end + 1) {
    std::string line = Trimmed(text.out.substr(start, end - start));
    if (!line.empty()) last = line;
  }
  return last;
}

TEST(RwreportSoakTest, TwelveHoursOfEightReadersPrintOnAFewPagesWithHeadingsKeptWithTheirText) {
  std::string chromium = FindChromium();
  if (chromium.empty() || access("/usr/bin/pdftotext", X_OK) != 0 ||
      access("/usr/bin/pdfinfo", X_OK) != 0) {
    GTEST_SKIP() << "chromium or poppler-utils missing (scripts/deps.sh installs them as root): "
                    "the printed soak report was not checked";
  }
  ScratchDir dir;
  // One attempt a second instead of the tools' 69: the runs of 100
  // attempts, the bins and the 12 hours of a soak, in a sixty-ninth of the
  // lines.
  RunResult made = RunProgram(
      "/usr/bin/env", {"python3", std::string(SOURCE_DIR) + "/bench/make_soak_logs.py", dir.Path(),
                       "--hours", "12", "--readers", "8", "--per-second", "1"});
  ASSERT_EQ(made.exitCode, 0) << made.err;
  std::string page = dir / "report.html";
  std::vector<std::string> args = {"--by", "file",      "--require",
                                   "99",   "--compare", "--html",
                                   page,   "--junit",   dir / "verdicts.xml"};
  for (int unit = 1; unit <= 8; ++unit) {
    args.push_back(dir / ("unit" + std::to_string(unit) + ".txt"));
    args.push_back(dir / ("unit" + std::to_string(unit) + ".log"));
  }
  RunResult report = RunProgram(BinDir() + "/rwreport", args, "", 300000);
  ASSERT_EQ(report.exitCode, 1) << report.err;  // some readers fail 99 %
  // The readers whose R/W went away show it; their card finding is apart.
  EXPECT_NE(report.out.find("\n  unit2: 3 spans, "), std::string::npos) << report.out;
  EXPECT_NE(report.out.find("; still gone at the end of its log\n"), std::string::npos);

  std::string pdf = dir / "report.pdf";
  RunResult printed = RunChromium(
      chromium, dir, {"--no-pdf-header-footer", "--print-to-pdf=" + pdf, "file://" + page});
  ASSERT_EQ(printed.exitCode, 0) << printed.err;
  RunResult info = RunProgram("/usr/bin/pdfinfo", {pdf});
  std::smatch pages;
  ASSERT_TRUE(std::regex_search(info.out, pages, std::regex("Pages: +([0-9]+)"))) << info.out;
  int count = std::stoi(pages[1]);
  RecordProperty("pages", count);
  std::printf("the 12-hour soak of 8 readers prints on %d A4 pages\n", count);
  EXPECT_LE(count, kMostPages);
  EXPECT_NE(info.out.find("pts (A4)"), std::string::npos) << info.out;
  std::set<std::string> headings = Headings(ReadFile(page));
  ASSERT_GE(headings.size(), 12u);  // the sections and the 8 series
  for (int n = 1; n <= count; ++n) {
    EXPECT_EQ(headings.count(LastLine(pdf, n)), 0u) << "page " << n << " ends with a heading";
  }

  if (access("/usr/bin/xmllint", X_OK) == 0) {
    RunResult valid =
        RunProgram("/usr/bin/xmllint",
                   {"--noout", "--schema", std::string(SOURCE_DIR) + "/tests/report/data/junit.xsd",
                    dir / "verdicts.xml"});
    EXPECT_EQ(valid.exitCode, 0) << valid.err;
  }
}

}  // namespace
