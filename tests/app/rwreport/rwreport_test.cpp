// rwreport end to end: the real program on result files, on a file written
// by brimlet, and its HTML page in a real browser.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/browser.h"
#include "tests/support/log_lines.h"
#include "tests/support/png_image.h"
#include "tests/support/process.h"
#include "tests/support/scratch_dir.h"
#include "tests/support/sim_process.h"
#include "tests/support/text_files.h"

namespace {

std::string Rwreport() { return BinDir() + "/rwreport"; }

// The rows of a CSV table without quoted cells, by column name.
std::vector<std::map<std::string, std::string>> SimpleCsvRows(const std::string &text) {
  auto split = [](const std::string &line) {
    std::vector<std::string> cells;
    std::size_t start = 0;
    for (std::size_t comma; (comma = line.find(',', start)) != std::string::npos;
         start = comma + 1) {
      cells.push_back(line.substr(start, comma - start));
    }
    cells.push_back(line.substr(start));
    return cells;
  };
  std::vector<std::map<std::string, std::string>> rows;
  std::vector<std::string> header;
  for (std::size_t start = 0, end; (end = text.find('\n', start)) != std::string::npos;
       start = end + 1) {
    std::vector<std::string> cells = split(text.substr(start, end - start));
    if (header.empty()) {
      header = cells;
      continue;
    }
    std::map<std::string, std::string> row;
    for (std::size_t i = 0; i < header.size() && i < cells.size(); ++i) row[header[i]] = cells[i];
    rows.push_back(row);
  }
  return rows;
}

void WriteText(const std::string &path, const std::string &text) {
  std::FILE *f = std::fopen(path.c_str(), "wb");
  ASSERT_NE(f, nullptr) << path;
  std::fputs(text.c_str(), f);
  std::fclose(f);
}

// Tag 3: 87/100, 90/100, 84/100 and a short 30/40; tag 12: 50/50, 49/50;
// no tag: 0/5; spread over two files in both terminators.
void WriteSample(const ScratchDir &dir) {
  WriteText(dir / "a.csv", " 87.00%,  87, 100,   3,100.00%,  50,  50,  12, 90.00%,  90, 100,   3,");
  WriteText(dir / "b.csv",
            "  0.00%,   0,   5\n 84.00%,  84, 100,   3\n 98.00%,  49,  50,  12\n"
            " 75.00%,  30,  40,   3,");
}

// A ten-minute soak of tag 7 in an event log: 3 runs of 20 attempts, one
// every 10 s, failing more towards the end (20, 15 and 5 successes), with
// a failed reconnection.
std::string WriteSoakLog(const ScratchDir &dir) {
  std::string log = loglines::Start(1000000, "2026-12-07T06:40:00Z", 7, "kestrow", 20);
  log += loglines::Event(1001000, "connect",
                         "\"device\":\"/dev/ttyUSB3\",\"baud\":115200,\"des\":true,\"ok\":true,"
                         "\"result\":0,\"failure\":\"none\"");
  long long t = 1002000;
  for (int run = 1; run <= 3; ++run) {
    int successes = 0;
    for (int n = 1; n <= 20; ++n) {
      bool fails = run == 2 ? n % 4 == 0 : run == 3 && n % 4 != 0;
      successes += !fails;
      log += loglines::Attempt(t += 10000000, run, n, fails ? 3 : 0, fails ? 130000 : 12000,
                               fails ? "no ACK" : "none");
    }
    char rate[16];
    std::snprintf(rate, sizeof rate, "%.2f", successes * 100.0 / 20);
    log += loglines::Run(t += 1000, run, successes, 20, rate, 7);
    log += loglines::Event(
        t += 20000, "reconnect",
        "\"run\":" + std::to_string(run + 1) + ",\"ok\":" + (run == 2 ? "false" : "true"));
  }
  std::string path = dir / "soak.jsonl";
  WriteText(path, log);
  return path;
}

// The figures of the sample, computed with Python 3 as described in
// run_stats_test.cpp.
// The homogeneity p-values: the chi-square statistic sum (s - n p)^2 /
// (n p (1 - p)) over the runs, and its upper tail for 3 degrees of freedom
// erfc(sqrt(x/2)) + sqrt(2x/pi) exp(-x/2), for 1 erfc(sqrt(x/2)).
// Result files tell nothing of the R/W's losses: those columns hold 0.
const char kSampleCsv[] =
    "tag,runs,attempts,successes,rate,wilson_low,wilson_high,mean,sd,min,max,short_runs,"
    "homogeneity_p,runs_disagree,loss_spans,loss_attempts,loss_seconds,loss_only_runs,"
    "gone_at_end\n"
    ",1,5,0,0.00,0.00,43.45,0.00,,0.00,0.00,0,,0,0,0,0.000,0,0\n"
    "3,4,340,291,85.59,81.46,88.92,84.00,6.48,75.00,90.00,1,0.134,0,0,0,0.000,0,0\n"
    "12,2,100,99,99.00,94.55,99.82,99.00,1.41,98.00,100.00,0,0.3149,0,0,0,0.000,0,0\n"
    "all,7,445,390,87.64,84.26,90.38,76.29,34.68,0.00,100.00,1,,,0,0,0.000,0,0\n";

TEST(RwreportTest, SeveralFilesAsTableAndCsv) {
  ScratchDir dir;
  WriteSample(dir);
  RunResult r = RunProgram(Rwreport(), {"--csv", dir / "a.csv", dir / "b.csv"});
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.out, kSampleCsv);
  r = RunProgram(Rwreport(), {dir / "a.csv", dir / "b.csv"});
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_NE(r.out.find("\n3          4       340        291    85.59    81.46    88.92    84.00  "
                       "   6.48    75.00    90.00      1\n"),
            std::string::npos)
      << r.out;
  EXPECT_NE(r.out.find("short run: tag 3, " + (dir / "b.csv") +
                       ":4:2: 40 of 100 attempts made, 30 "
                       "successes\n"),
            std::string::npos)
      << r.out;
}

TEST(RwreportTest, BadInputIsAnErrorNamingFileAndPosition) {
  ScratchDir dir;
  WriteSample(dir);
  WriteText(dir / "bad.csv", " 87.00%,  87, 100,\n 87.00%;  87, 100,\n");
  RunResult r = RunProgram(Rwreport(), {dir / "a.csv", dir / "bad.csv"});
  EXPECT_EQ(r.exitCode, 2);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "rwreport: " + (dir / "bad.csv") + ":2:8: expected ',' after the rate\n");
  r = RunProgram(Rwreport(), {dir / "missing.csv"});
  EXPECT_EQ(r.exitCode, 2);
  EXPECT_EQ(r.err,
            "rwreport: cannot open " + (dir / "missing.csv") + ": No such file or directory\n");
  WriteText(dir / "empty.csv", "");
  r = RunProgram(Rwreport(), {dir / "empty.csv"});
  EXPECT_EQ(r.exitCode, 2);
  EXPECT_EQ(r.err, "rwreport: the files hold no records\n");
  for (const std::vector<std::string> &args :
       std::vector<std::vector<std::string>>{{}, {"--html"}, {"--pdf", dir / "a.csv"}}) {
    r = RunProgram(Rwreport(), args);
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_NE(r.err.find("\nUsage: rwreport"), std::string::npos) << r.err;
  }
}

TEST(RwreportTest, ReadsWhatBrimletWrites) {
  ScratchDir dir;
  SimProcess sim({"--card=ooo.o"});
  std::string file = dir / "results.csv";
  for (const char *terminated : {"on", "off"}) {
    RunResult r = RunProgram(BinDir() + "/brimlet",
                             {"c", sim.Path(), "t", "10", "d", "4", "s", terminated, "f", file,
                              "at", "1000", "rt", "1000"});  // no stray X on a loaded machine
    ASSERT_EQ(r.exitCode, 0);
  }
  ASSERT_EQ(RunProgram(BinDir() + "/brimlet",
                       {"c", sim.Path(), "t", "5", "f", file, "at", "1000", "rt", "1000"})
                .exitCode,
            0);
  RunResult r = RunProgram(Rwreport(), {"--csv", file});
  EXPECT_EQ(r.err, "");
  // 8 of 10 twice under tag 4; 4 of 5 without tag. Wilson bounds by Python.
  EXPECT_EQ(r.out,
            "tag,runs,attempts,successes,rate,wilson_low,wilson_high,mean,sd,min,max,short_runs,"
            "homogeneity_p,runs_disagree,loss_spans,loss_attempts,loss_seconds,loss_only_runs,"
            "gone_at_end\n"
            ",1,5,4,80.00,37.55,96.38,80.00,,80.00,80.00,0,,0,0,0,0.000,0,0\n"
            "4,2,20,16,80.00,58.40,91.93,80.00,0.00,80.00,80.00,0,1,0,0,0,0.000,0,0\n"
            "all,3,25,20,80.00,60.87,91.14,80.00,0.00,80.00,80.00,0,,,0,0,0.000,0,0\n");
}

TEST(RwreportTest, ReadsEventLogs) {
  ScratchDir dir;
  SimProcess sim({"--card=oo.", "--fault=no-ack@2", "--fault=bad-checksum@5"});
  std::string log = dir / "events.jsonl";
  RunResult tool = RunProgram(BinDir() + "/brimlet", {"c", sim.Path(), "t", "6", "d", "2", "log",
                                                      log, "at", "1000", "rt", "1000"});
  ASSERT_EQ(tool.exitCode, 0) << tool.err;
  ASSERT_NE(tool.out.find("oX.oX."), std::string::npos) << tool.out;
  RunResult r = RunProgram(Rwreport(), {"--csv", log});
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.exitCode, 0);
  // The table's runs come from the log when no result file is given.
  EXPECT_NE(r.out.find("\n2,1,6,2,33.33,"), std::string::npos) << r.out;
  r = RunProgram(Rwreport(), {"--csv", "runs", log});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  std::vector<std::map<std::string, std::string>> rows = SimpleCsvRows(r.out);
  ASSERT_EQ(rows.size(), 1u) << r.out;
  std::map<std::string, std::string> expected = {
      {"source", log},   {"tool", "brimlet"},   {"run", "1"},      {"tag", "2"},
      {"attempts", "6"}, {"successes", "2"},    {"rate", "33.33"}, {"counted", "1"},
      {"no_ack", "1"},   {"bad_checksum", "1"}, {"no_card", "0"},  {"port_error", "0"}};
  // A plain R/W without a card sends no answer after its ACK.
  expected["no_card_or_no_answer"] = "2";
  expected["no_response"] = "0";
  for (const auto &[column, value] : expected) EXPECT_EQ(rows[0][column], value) << column;
  EXPECT_FALSE(rows[0]["p50_ms"].empty());
  std::string page = dir / "page.html";
  r = RunProgram(Rwreport(), {"--html", page, log});
  EXPECT_NE(r.out.find("brimlet run 1, tag 2: 2 of 6 (33.33 %)"), std::string::npos) << r.out;
  // brimlet's R/W has no DES to show.
  std::string html = ReadFile(page);
  EXPECT_NE(html.find("<th>baud rate</th><th>time-outs</th>"), std::string::npos) << html;
  EXPECT_EQ(html.find("DES"), std::string::npos);
  EXPECT_NE(r.out.find("; failures: no card or no answer 2; bad checksum 1; no ACK 1\n"),
            std::string::npos)
      << r.out;
}

// A log of `runs` runs of 10 attempts, one attempt a second: run 7 is cut
// short, run 12 loses its R/W for 3 attempts, the rest find the card every
// time.
std::string RunsLog(int runs) {
  std::string log = loglines::Start(1000000, "2026-12-07T06:40:00Z", 7, "kestrow", 10);
  log += loglines::Open(1000100, true) + loglines::Connect(1000200, true);
  long long t = 2000000;
  for (int run = 1; run <= runs; ++run) {
    int attempts = run == 7 ? 6 : 10, successes = 0;
    for (int n = 1; n <= attempts; ++n, t += 1000000) {
      bool lost = run == 12 && n > 7;
      successes += !lost;
      log += lost ? loglines::Attempt(t, run, n, 2, 1000, "port error")
                  : loglines::Attempt(t, run, n, 0, 9000, "none");
    }
    char rate[16];
    std::snprintf(rate, sizeof rate, "%.2f", successes * 100.0 / attempts);
    log += loglines::Run(t, run, successes, attempts, rate);
    if (run == 12) log += loglines::Open(t + 100, true) + loglines::Connect(t + 200, true);
  }
  return log;
}

TEST(RwreportTest, TheTextListsTheRunsThatNeedALookAndTheSeriesOfALongSoak) {
  ScratchDir dir;
  WriteText(dir / "runs.jsonl", RunsLog(25));  // 246 s
  RunResult r = RunProgram(Rwreport(), {dir / "runs.jsonl"});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_NE(r.out.find("\nruns in event logs that need a look (latency in ms; 23 more runs are "
                       "without failure, shortness, R/W loss or outlying rate; --csv runs lists "
                       "every run):\n"),
            std::string::npos)
      << r.out;
  EXPECT_NE(r.out.find(" run 7, tag 7: 6 of 6 (100.00 %), p50 9.0, p90 9.0, p99 9.0, max 9.0; "
                       "needs a look: short\n"),
            std::string::npos)
      << r.out;
  EXPECT_NE(r.out.find(" run 12, tag 7: 7 of 10 (70.00 %), p50 9.0, p90 9.0, p99 9.0, max 9.0; "
                       "failures: port error 3; needs a look: R/W gone for 3 attempts\n"),
            std::string::npos)
      << r.out;
  EXPECT_EQ(r.out.find(" run 8, "), std::string::npos) << r.out;
  // The losses beside the figures: 243 card-finding attempts, all found.
  EXPECT_NE(r.out.find("\n7         25       243        243   100.00"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("R/W losses (attempts made while the R/W was gone, not counted as card "
                       "finding):\n  tag 7: 1 span, 3 attempts, 3.0 s\n"),
            std::string::npos)
      << r.out;
  // Four minutes make no series in the text, unless asked for.
  EXPECT_EQ(r.out.find("series of tag 7"), std::string::npos) << r.out;
  r = RunProgram(Rwreport(), {"--bin", "60", dir / "runs.jsonl"});
  EXPECT_NE(r.out.find("\nseries of tag 7 (bins of 60 s; latency in ms):\n"), std::string::npos)
      << r.out;
  // Half an hour does.
  WriteText(dir / "long.jsonl", RunsLog(181));  // 1806 s
  r = RunProgram(Rwreport(), {dir / "long.jsonl"});
  EXPECT_NE(r.out.find("\nseries of tag 7 (bins of 30 s, chosen from the span; latency in ms):\n"),
            std::string::npos)
      << r.out;
}

// The text of the cell `column` in the table row of `label`.
std::string Cell(const std::string &dom, const std::string &label, const std::string &column) {
  std::size_t row = dom.find("<tr data-label=\"" + label + "\">");
  if (row == std::string::npos) return "<no row>";
  std::size_t rowEnd = dom.find("</tr>", row);
  std::string key = "data-col=\"" + column + "\">";
  std::size_t cell = dom.find(key, row);
  if (cell == std::string::npos || cell > rowEnd) return "<no cell>";
  cell += key.size();
  return dom.substr(cell, dom.find('<', cell) - cell);
}

struct Bar {
  int left, right, top, bottom;
};

// Columns of pixels of `colour`, joined into bars from left to right.
std::vector<Bar> BarsOf(const Image &image, Rgb colour) {
  std::vector<Bar> bars;
  for (int x = 0; x < image.width; ++x) {
    int top = -1, bottom = -1;
    for (int y = 0; y < image.height; ++y) {
      const Rgb &p = image.At(x, y);
      if (p.r != colour.r || p.g != colour.g || p.b != colour.b) continue;
      if (top < 0) top = y;
      bottom = y;
    }
    if (top < 0) continue;
    if (!bars.empty() && bars.back().right == x - 1) {
      Bar &b = bars.back();
      b.right = x;
      b.top = std::min(b.top, top);
      b.bottom = std::max(b.bottom, bottom);
    } else {
      bars.push_back(Bar{x, x, top, bottom});
    }
  }
  return bars;
}

int CountPixels(const Image &image, Rgb colour) {
  int n = 0;
  for (const Rgb &p : image.pixels) n += p.r == colour.r && p.g == colour.g && p.b == colour.b;
  return n;
}

TEST(RwreportBrowserTest, PageShowsChartAndFigures) {
  std::string chromium = FindChromium();
  if (chromium.empty()) {
    GTEST_SKIP() << "chromium is not installed and could not be installed (scripts/deps.sh "
                    "installs it when run as root): the HTML page was not checked in a browser";
  }
  ScratchDir dir;
  WriteSample(dir);
  std::string soak = WriteSoakLog(dir);
  std::string page = dir / "report.html";
  ASSERT_EQ(
      RunProgram(Rwreport(), {"--html", page, "--title", "Unit <7> positions", "--require", "95",
                              "--compare", "--bin", "60", dir / "a.csv", dir / "b.csv", soak})
          .exitCode,
      1);  // tags fail the gate; the page is written all the same
  std::string url = "file://" + page;

  RunResult dom = RunChromium(chromium, dir, {"--dump-dom", url});
  ASSERT_EQ(dom.exitCode, 0) << dom.err;
  // The page reads from the top: the verdicts, the comparisons, the rate
  // chart, the soak series with its trend; then the tables: the figures,
  // the runs, the setup from the log's start and the files read.
  std::size_t title = dom.out.find("<h1>Unit &lt;7&gt; positions</h1>");
  std::vector<std::size_t> order = {title,
                                    dom.out.find("<table id=\"verdicts\">"),
                                    dom.out.find("<table id=\"comparisons\">"),
                                    dom.out.find("<svg id=\"chart\" class=\"chart\""),
                                    dom.out.find("<svg id=\"series-0\" class=\"series\""),
                                    dom.out.find("<table id=\"figures\">"),
                                    dom.out.find("<table id=\"runs\">"),
                                    dom.out.find("<table class=\"setup\">"),
                                    dom.out.find("Files read:")};
  for (std::size_t i = 0; i < order.size(); ++i) {
    ASSERT_NE(order[i], std::string::npos) << i;
    if (i > 0) {
      EXPECT_LT(order[i - 1], order[i]) << i;
    }
  }
  // The required rate is drawn across the rate chart; the result files'
  // failures are said to be what they are.
  EXPECT_NE(dom.out.find("class=\"requirement\""), std::string::npos);
  EXPECT_NE(dom.out.find("<p class=\"note\">no tag, tag 3, tag 12: failed attempts from result "
                         "files without their event logs may include attempts made while the R/W "
                         "was gone"),
            std::string::npos);
  // The setup: a row per log, with DES for kestrow.
  EXPECT_NE(dom.out.find("<th>log</th><th>tool</th><th>port</th><th>device</th><th>baud "
                         "rate</th><th>DES</th><th>time-outs</th>"),
            std::string::npos);
  EXPECT_NE(dom.out.find("<td>kestrow 1.1.0</td><td>/dev/ttyUSB0</td><td>/dev/ttyUSB3</td>"
                         "<td>115200</td><td>on</td><td>ACK 50 ms, response 50 ms</td>"
                         "<td>2026-12-07T06:40:00Z to 2026-12-07T06:50:00Z</td>"),
            std::string::npos);
  EXPECT_NE(dom.out.find("<h3>tag 7</h3>"), std::string::npos);
  EXPECT_NE(dom.out.find("<p class=\"trend\">rate fell from "), std::string::npos);
  EXPECT_NE(dom.out.find("class=\"reconnect\""), std::string::npos);
  EXPECT_NE(dom.out.find("<td>tag 12</td><td>94.55 to 99.82 %</td><td>undecided</td><td>115</td>"),
            std::string::npos);
  EXPECT_NE(dom.out.find("<td>tag 3 \xe2\x88\x92 tag 12</td><td>-13.41</td>"), std::string::npos);
  // Every figure of the sample's CSV appears in its row of the page.
  const char *const columns[] = {"tag",  "runs",       "attempts",    "successes",
                                 "rate", "wilson_low", "wilson_high", "mean",
                                 "sd",   "min",        "max",         "short_runs"};
  std::string csv = kSampleCsv;
  for (std::size_t line = csv.find('\n') + 1; line < csv.size(); line = csv.find('\n', line) + 1) {
    std::string row = csv.substr(line, csv.find('\n', line) - line) + ",";
    std::string label = row.substr(0, row.find(','));
    if (label.empty()) label = "-";  // the page names the group without tag
    std::size_t start = 0;
    for (const char *column : columns) {
      std::size_t comma = row.find(',', start);
      std::string expected = row.substr(start, comma - start);
      if (std::string(column) == "tag") expected = label;
      EXPECT_EQ(Cell(dom.out, label, column), expected.empty() ? "-" : expected)
          << label << " " << column;
      start = comma + 1;
    }
  }

  std::string shot = dir / "shot.png";
  RunResult r = RunChromium(chromium, dir, {"--screenshot=" + shot, url});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  Image image;
  std::string error;
  ASSERT_TRUE(ReadPng(shot, &image, &error)) << error;
  // One interval bar per tag, left to right: no tag, 3, 12; all runs in a
  // colour of their own, right of them. The axis runs from 0 (the no-tag
  // group's 0 %) to 100 %: bars are as tall as their intervals, in the same
  // scale.
  std::vector<Bar> bars = BarsOf(image, Rgb{0x4a, 0x90, 0xd9});
  std::vector<Bar> overall = BarsOf(image, Rgb{0x9a, 0xa7, 0xb4});
  const double spans[] = {43.45 - 0.0, 88.92 - 81.46, 99.82 - 94.55};
  ASSERT_EQ(bars.size(), 3u);
  ASSERT_EQ(overall.size(), 1u);
  double perPercent = (bars[0].bottom - bars[0].top + 1) / spans[0];
  EXPECT_GT(perPercent, 2.0);  // the chart is as wide as the page, and as tall
  // The pooled line across a bar may cover one of its ends (tag 12: 99.00
  // in 94.55 to 99.82).
  EXPECT_NEAR(bars[1].bottom - bars[1].top + 1, spans[1] * perPercent, 3.0);
  EXPECT_NEAR(bars[2].bottom - bars[2].top + 1, spans[2] * perPercent, 5.0);
  EXPECT_LT(bars[2].top, bars[1].top);                                       // tag 12 highest
  EXPECT_GT(overall[0].left - bars[2].right, bars[2].left - bars[1].right);  // apart
  EXPECT_GT(overall[0].right, image.width * 8 / 10);
  // Pooled-rate lines across the bars and run dots are drawn too.
  EXPECT_GE(CountPixels(image, Rgb{0x1a, 0x3f, 0x73}), 4 * 30);
  EXPECT_GT(CountPixels(image, Rgb{0xe4, 0x57, 0x2e}), 14 * 20);
}

}  // namespace

namespace {

// The page printed to PDF on A4: every section and figure is in the text,
// and nothing reaches into the right margin (where a cut table or chart
// would end).
TEST(RwreportBrowserTest, PagePrintsOnA4WithNothingCut) {
  std::string chromium = FindChromium();
  if (chromium.empty() || access("/usr/bin/pdftoppm", X_OK) != 0) {
    GTEST_SKIP() << "chromium or poppler-utils missing (scripts/deps.sh installs them as root): "
                    "the printed page was not checked";
  }
  ScratchDir dir;
  WriteSample(dir);
  std::string soak = WriteSoakLog(dir);
  std::string page = dir / "report.html";
  ASSERT_EQ(RunProgram(Rwreport(), {"--html", page, "--require", "95", "--compare", "--plan", "99",
                                    dir / "a.csv", dir / "b.csv", soak})
                .exitCode,
            1);
  std::string pdf = dir / "report.pdf";
  RunResult r = RunChromium(chromium, dir,
                            {"--no-pdf-header-footer", "--print-to-pdf=" + pdf, "file://" + page});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  RunResult info = RunProgram("/usr/bin/pdfinfo", {pdf});
  EXPECT_NE(info.out.find("pts (A4)"), std::string::npos) << info.out;
  RunResult text = RunProgram("/usr/bin/pdftotext", {"-layout", pdf, "-"});
  for (const char *expected :
       {"Setup", "kestrow 1.1.0", "ACK 50 ms, response 50 ms", "Verdicts", "Comparisons",
        "Success rate per group", "Runs", "short runs", "34.68", "100.00", "undecided",
        "tag 3 is lower", "Soak series", "success rate (%)", "rate fell from"}) {
    EXPECT_NE(text.out.find(expected), std::string::npos) << expected;
  }
  ASSERT_EQ(RunProgram("/usr/bin/pdftoppm", {"-r", "50", "-png", pdf, dir / "page"}).exitCode, 0);
  int pages = 0;
  for (int n = 1; n <= 9; ++n) {
    Image image;
    std::string error;
    if (!ReadPng(dir / ("page-" + std::to_string(n) + ".png"), &image, &error)) break;
    ++pages;
    int margin = image.width * 10 / 210;  // the last 10 mm of 210
    int dark = 0;
    for (int y = 0; y < image.height; ++y) {
      for (int x = image.width - margin; x < image.width; ++x) {
        const Rgb &p = image.At(x, y);
        dark += p.r + p.g + p.b < 600;
      }
    }
    EXPECT_EQ(dark, 0) << "page " << n;
  }
  EXPECT_GE(pages, 1);
}

}  // namespace
