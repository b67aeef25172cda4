// rwreport end to end: the requirement gate's exit statuses, the CSV tables
// as a CSV reader loads them, inputs as users give them, and the safety of
// its outputs (never over an input, errors of its own writes reported).
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/log_lines.h"
#include "tests/support/process.h"
#include "tests/support/scratch_dir.h"
#include "tests/support/text_files.h"

namespace {

std::string Rwreport() { return BinDir() + "/rwreport"; }

void WriteText(const std::string &path, const std::string &text) {
  std::FILE *f = std::fopen(path.c_str(), "wb");
  ASSERT_NE(f, nullptr) << path;
  std::fputs(text.c_str(), f);
  std::fclose(f);
}

std::string ReadText(const std::string &path) {
  std::string text;
  if (std::FILE *f = std::fopen(path.c_str(), "rb")) {
    char buffer[4096];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, f)) > 0;) text.append(buffer, n);
    std::fclose(f);
  }
  return text;
}

bool Exists(const std::string &path) { return access(path.c_str(), F_OK) == 0; }

// Runs rwreport through the shell, so that `redirect` can point its
// standard output somewhere.
RunResult RunRedirected(const std::vector<std::string> &args, const std::string &redirect) {
  std::string line = "exec \"$0\"";
  for (std::size_t i = 0; i < args.size(); ++i) line += " \"$" + std::to_string(i + 1) + "\"";
  std::vector<std::string> all = {"-c", line + " " + redirect, Rwreport()};
  all.insert(all.end(), args.begin(), args.end());
  return RunProgram("/bin/sh", all);
}

// 381/381 under tag 1 (passes 99 %), 380/380 under tag 2 (undecided), 85/100
// under tag 3 (fails).
const char kPasses[] = "100.00%, 381, 381,   1,";
const char kUndecided[] = "100.00%, 380, 380,   2,";
const char kFails[] = " 85.00%,  85, 100,   3,";

TEST(RwreportGateTest, ExitStatusTellsPassFromFailFromError) {
  ScratchDir dir;
  WriteText(dir / "pass.csv", kPasses);
  WriteText(dir / "mixed.csv", std::string(kPasses) + kUndecided + kFails);
  RunResult r = RunProgram(Rwreport(), {"--require", "99", dir / "pass.csv"});
  EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
  // 381/381: 99.0018 % to 100 %, shown with the digit that tells it from 99.
  EXPECT_NE(r.out.find("  tag 1: pass (99.002 % to 100.000 %)\n"), std::string::npos) << r.out;
  r = RunProgram(Rwreport(), {"--require=99", dir / "mixed.csv"});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_NE(r.out.find("  tag 2: undecided (98.999 % to 100.000 %); a pass needs 381 attempts at "
                       "its rate of 100.000 %, 1 more\n"),
            std::string::npos)
      << r.out;
  EXPECT_NE(r.out.find("  tag 3: fail ("), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("  all: no verdict (the groups are different setups)\n"), std::string::npos);
  // Undecided alone fails the gate too.
  WriteText(dir / "undecided.csv", kUndecided);
  EXPECT_EQ(RunProgram(Rwreport(), {"--require", "99", dir / "undecided.csv"}).exitCode, 1);
  // Usage and input errors are 2, apart from a failed gate: a log of an
  // unknown version, or with a line cut short, is an input error too.
  WriteText(dir / "bad.jsonl", "{\"v\":9,\"t\":0,\"ev\":\"start\"}\n");
  std::string start = loglines::Start(1000000);
  WriteText(dir / "cut.jsonl", start + start.substr(0, 40) + "\n");
  for (const std::vector<std::string> &args :
       std::vector<std::vector<std::string>>{{"--require", "100", dir / "pass.csv"},
                                             {"--require", "abc", dir / "pass.csv"},
                                             {"--require", dir / "pass.csv"},
                                             {"--plan", "0", dir / "pass.csv"},
                                             {"--by", "unit", dir / "pass.csv"},
                                             {"--require", "99", dir / "missing.csv"},
                                             {"--baseline", "7", dir / "pass.csv"},
                                             {"--csv", "plan", dir / "pass.csv"},
                                             {"--bin", "0", dir / "pass.csv"},
                                             {"--require", "99", dir / "bad.jsonl"},
                                             {"--require", "99", dir / "cut.jsonl"}}) {
    r = RunProgram(Rwreport(), args);
    EXPECT_EQ(r.exitCode, 2) << args[0] << " " << args[1];
    EXPECT_NE(r.err, "");
  }
}

// A requirement is shown as written, and the interval with the digits that
// tell it from the requirement. Wilson bounds with Python 3: 3490000 of
// 3490000 give a lower bound of 99.99988992966784 %; a pass of 99.9999 %
// at 100 % needs ceil(999999 z^2) = 3841455 attempts; 85 of 86 give
// 93.7036 % to 99.7944 %.
TEST(RwreportGateTest, TheRequirementAndTheIntervalShowTheDigitsThatTellThemApart) {
  ScratchDir dir;
  WriteText(dir / "near.csv", "100.00%,3490000,3490000,   1,");
  RunResult r = RunProgram(Rwreport(), {"--require", "99.9999", dir / "near.csv"});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_NE(r.out.find("\nverdicts for a required 99.9999 % (95 % Wilson interval"),
            std::string::npos)
      << r.out;
  EXPECT_NE(r.out.find("  tag 1: undecided (99.99989 % to 100.00000 %); a pass needs 3841455 "
                       "attempts at its rate of 100.00000 %, 351455 more\n"),
            std::string::npos)
      << r.out;
  r = RunProgram(Rwreport(), {"--csv", "--require", "99.9999", dir / "near.csv"});
  EXPECT_NE(r.out.find(",99.9999,undecided,3841455,351455\n"), std::string::npos) << r.out;
  // A rate below the requirement: no number of attempts can show it.
  WriteText(dir / "below.csv", " 98.84%,  85,  86,   2,");
  r = RunProgram(Rwreport(), {"--require", "99", dir / "below.csv"});
  EXPECT_NE(r.out.find("  tag 2: undecided (93.70 % to 99.79 %); its rate of 98.84 % is below the "
                       "required 99.00 %, so more attempts cannot show it\n"),
            std::string::npos)
      << r.out;
}

// Wilson bounds computed with Python 3 as in run_stats_test.cpp.
TEST(RwreportGateTest, GroupsByFileWithThePlannedLengthOfEachFile) {
  ScratchDir dir;
  // Two units run with different t under the same tag: neither flags the
  // other's runs as short.
  WriteText(dir / "unit-a.csv", "100.00%, 200, 200,   5,100.00%, 200, 200,   5,");
  WriteText(dir / "unit-b.tar.csv", " 99.33%, 149, 150,   5,100.00%, 150, 150,   5,");
  RunResult r = RunProgram(Rwreport(), {"--csv", dir / "unit-a.csv", dir / "unit-b.tar.csv"});
  EXPECT_NE(r.out.find("\n5,4,700,699,99.86,99.20,99.97,99.83,0.33,99.33,100.00,0,"),
            std::string::npos)
      << r.out;
  r = RunProgram(Rwreport(), {"--by", "file", "--require", "99", "--csv", dir / "unit-a.csv",
                              dir / "unit-b.tar.csv"});
  EXPECT_EQ(r.exitCode, 1);  // 400/400 passes 99 %, 299/300 does not show it
  EXPECT_EQ(r.out.substr(0, r.out.find('\n')),
            "file,runs,attempts,successes,rate,wilson_low,wilson_high,mean,sd,min,max,short_runs,"
            "homogeneity_p,runs_disagree,loss_spans,loss_attempts,loss_seconds,loss_only_runs,"
            "gone_at_end,required,verdict,attempts_to_pass,more_attempts");
  EXPECT_NE(r.out.find("\nunit-a,2,400,400,100.00,99.05,100.00,"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("\nunit-b.tar,2,300,299,99.67,98.14,99.94,"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find(",99.00,pass,"), std::string::npos) << r.out;
}

// Files of one name in different folders are different groups: their
// labels carry the folders that tell them apart, and a baseline that could
// be either is refused, naming both.
TEST(RwreportGateTest, FilesOfOneNameAreToldApartByTheirFolders) {
  ScratchDir dir;
  mkdir((dir / "monday").c_str(), 0700);
  mkdir((dir / "tuesday").c_str(), 0700);
  WriteText(dir / "monday/unit1.txt", "100.00%, 500, 500,\n");
  WriteText(dir / "tuesday/unit1.txt", " 90.00%, 450, 500,\n");
  std::vector<std::string> files = {dir / "monday/unit1.txt", dir / "tuesday/unit1.txt"};
  std::vector<std::string> args = {"--by", "file", "--compare"};
  args.insert(args.end(), files.begin(), files.end());
  RunResult r = RunProgram(Rwreport(), args);
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_NE(r.out.find("\nmonday/unit1 "), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("\ntuesday/unit1 "), std::string::npos) << r.out;
  // One comparison: Holm's adjustment has nothing to adjust.
  EXPECT_NE(r.out.find("\n1 comparison (difference of pooled rates with its 95 % Newcombe "
                       "interval; Fisher's exact p, which Holm's adjustment leaves as it is for "
                       "one):\n  monday/unit1 - tuesday/unit1: 10.00 ("),
            std::string::npos)
      << r.out;
  EXPECT_NE(r.out.find(": tuesday/unit1 is lower\n"), std::string::npos) << r.out;
  args = {"--by", "file", "--baseline", "unit1"};
  args.insert(args.end(), files.begin(), files.end());
  r = RunProgram(Rwreport(), args);
  EXPECT_EQ(r.exitCode, 2);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err,
            "rwreport: --baseline unit1 names more than one group: monday/unit1 or "
            "tuesday/unit1\n");
  args[3] = "tuesday/unit1";
  r = RunProgram(Rwreport(), args);
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_NE(r.out.find("  monday/unit1 - tuesday/unit1: "), std::string::npos) << r.out;
}

// p-values too small for a double are bounds, not 0: Fisher's test of
// 100000/100000 against 0/100000, and the runs of one group that disagree
// as much.
TEST(RwreportGateTest, VanishingPValuesAreShownAsABound) {
  ScratchDir dir;
  WriteText(dir / "far.csv", "100.00%,100000,100000,   1,  0.00%,   0,100000,   2,");
  RunResult r = RunProgram(Rwreport(), {"--compare", dir / "far.csv"});
  EXPECT_NE(r.out.find(" points, p < 1e-300, Holm p < 1e-300: tag 2 is lower\n"), std::string::npos)
      << r.out;
  WriteText(dir / "apart.csv", "100.00%,100000,100000,   3,  0.00%,   0,100000,   3,");
  r = RunProgram(Rwreport(), {dir / "apart.csv"});
  EXPECT_NE(r.out.find("runs disagree: tag 3: its runs differ more than chance allows (chi-square "
                       "p < 1e-300); its pooled interval"),
            std::string::npos)
      << r.out;
  EXPECT_EQ(r.out.find("p = 0"), std::string::npos) << r.out;
}

// Loads a CSV table with Python's csv module: one header of unique
// snake_case names, rows as wide as it, and every cell of a numeric column
// a number or empty. Prints the table's shape.
const char kCsvCheck[] = R"(import csv, re, sys
text_columns = {'tag', 'file', 'source', 'tool', 'verdict', 'tag_a', 'tag_b', 'file_a', 'file_b',
                'group', 'bin_start', 'needs_look'}
with open(sys.argv[1], newline='') as f:
    rows = list(csv.reader(f))
header, body = rows[0], rows[1:]
assert len(set(header)) == len(header), header
for name in header:
    assert re.fullmatch('[a-z][a-z0-9_]*', name), name
for row in body:
    assert len(row) == len(header), row
    for name, cell in zip(header, row):
        if name not in text_columns and cell != '':
            float(cell)
try:
    import pandas
    pandas.read_csv(sys.argv[1])
except ImportError:
    pass
print(len(header), len(body))
)";

TEST(RwreportCsvTest, EveryTableLoadsAndItsNumbersParse) {
  ScratchDir dir;
  WriteText(dir / "check.py", kCsvCheck);
  WriteText(dir / "a.csv", std::string(kPasses) + kUndecided + kFails + " 80.00%,  80, 100,   3,");
  // A file name a spreadsheet would run, and one with a comma and a quote.
  WriteText(dir / "=HYPERLINK(1).csv", " 50.00%,   1,   2,");
  WriteText(dir / "x,\"y\".csv", "  0.00%,   0,   2,");
  const std::vector<std::string> files = {dir / "a.csv", dir / "=HYPERLINK(1).csv",
                                          dir / "x,\"y\".csv"};
  struct Table {
    std::vector<std::string> options;
    std::string shape;
  } tables[] = {{{"--csv", "--require", "99"}, "23 5\n"},
                {{"--csv", "runs"}, "17 6\n"},
                {{"--csv", "compare"}, "14 6\n"},
                {{"--csv=plan", "--plan", "99"}, "8 4\n"},
                {{"--csv", "--by", "file"}, "19 4\n"}};
  for (const Table &t : tables) {
    std::vector<std::string> args = t.options;
    args.insert(args.end(), files.begin(), files.end());
    RunResult r = RunProgram(Rwreport(), args);
    ASSERT_NE(r.exitCode, 2) << r.err;
    WriteText(dir / "out.csv", r.out);
    RunResult check = RunProgram("/usr/bin/env", {"python3", dir / "check.py", dir / "out.csv"});
    EXPECT_EQ(check.exitCode, 0) << t.options[0] << "\n" << r.out << check.err;
    // The runs table has a column per failure class besides its 17.
    if (t.options[1] == "runs") {
      EXPECT_NE(r.out.find(",no_card,no_ack,"), std::string::npos);
    } else {
      EXPECT_EQ(check.out, t.shape) << t.options[0] << "\n" << r.out;
    }
  }
  RunResult r = RunProgram(Rwreport(), {"--csv", "--by", "file", files[1], files[2]});
  EXPECT_NE(r.out.find("\n'=HYPERLINK(1),1,2,1,50.00,"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("\n\"x,\"\"y\"\"\",1,2,0,0.00,"), std::string::npos) << r.out;
}

// The soak series as a table: one row per bin of each file's series, its
// group named by the file and written safely, an empty bin with empty
// cells where nothing is defined.
TEST(RwreportCsvTest, TheSeriesTableLoadsWithAGroupPerFile) {
  ScratchDir dir;
  WriteText(dir / "check.py", kCsvCheck);
  std::string log = loglines::Start(1000000);
  log += loglines::Attempt(2000000, 1, 1, 0, 12000, "none");
  log += loglines::Attempt(3000000, 1, 2, 3, 130000, "no ACK");
  log += loglines::Attempt(150000000, 1, 3, 0, 11000, "none");
  log += loglines::Attempt(151000000, 1, 4, 0, 11000, "none");
  log += loglines::Run(151001000, 1, 3, 4, "75.00");
  WriteText(dir / "-unit,a.jsonl", log);
  WriteText(dir / "b.jsonl", log);
  RunResult r = RunProgram(Rwreport(), {"--csv", "series", "--bin", "60", "--by", "file",
                                        dir / "-unit,a.jsonl", dir / "b.jsonl"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  WriteText(dir / "out.csv", r.out);
  RunResult check = RunProgram("/usr/bin/env", {"python3", dir / "check.py", dir / "out.csv"});
  EXPECT_EQ(check.exitCode, 0) << r.out << check.err;
  // 13 columns and one per failure class; 3 bins (06:40 to 06:42) per file.
  EXPECT_EQ(check.out.substr(check.out.find(' ')), " 6\n") << r.out;
  EXPECT_NE(r.out.find("\n\"'-unit,a\",2026-12-07T06:40:00Z,60,2,1,50.0000,"), std::string::npos)
      << r.out;
  EXPECT_NE(r.out.find("\nb,2026-12-07T06:41:00Z,60,0,0,,,,,,0,0,0,"), std::string::npos) << r.out;
}

TEST(RwreportInputTest, StandardInputAndFilesNamedTwice) {
  ScratchDir dir;
  WriteText(dir / "a.csv", kFails);
  RunResult fromFile = RunProgram(Rwreport(), {"--csv", dir / "a.csv"});
  RunResult fromStdin = RunProgram(Rwreport(), {"--csv", "-"}, kFails);
  EXPECT_EQ(fromStdin.exitCode, 0) << fromStdin.err;
  EXPECT_EQ(fromStdin.out, fromFile.out);
  // A log from standard input is read as a stream too, past the bytes that
  // tell it from a result file.
  std::string log = loglines::Start(1000000, "2026-12-07T06:40:00Z", 7, "kestrow", 1000);
  for (int n = 1; n <= 1000; ++n)
    log += loglines::Attempt(1000000 + n * 500000, 1, n, 0, 9000, "none");
  log += loglines::Run(502000000, 1, 1000, 1000, "100.00");
  ASSERT_GT(log.size(), 65536u);
  WriteText(dir / "log.jsonl", log);
  RunResult logFromFile =
      RunProgram(Rwreport(), {"--csv", "series", "--bin", "60", dir / "log.jsonl"});
  RunResult logFromStdin = RunProgram(Rwreport(), {"--csv", "series", "--bin", "60", "-"}, log);
  EXPECT_EQ(logFromStdin.exitCode, 0) << logFromStdin.err;
  EXPECT_NE(logFromStdin.out.find("\n7,2026-12-07T06:47:00Z,60,120,120,100.0000,"),
            std::string::npos)
      << logFromStdin.out;
  EXPECT_EQ(logFromStdin.out, logFromFile.out);
  mkdir((dir / "sub").c_str(), 0700);
  ASSERT_EQ(link((dir / "a.csv").c_str(), (dir / "hard.csv").c_str()), 0);
  RunResult r =
      RunProgram(Rwreport(), {"--csv", dir / "a.csv", dir / "sub/../a.csv", dir / "hard.csv"});
  EXPECT_EQ(r.out, fromFile.out);  // counted once
  EXPECT_EQ(r.err, "rwreport: " + (dir / "sub/../a.csv") + " is the same file as " +
                       (dir / "a.csv") + "; read once\nrwreport: " + (dir / "hard.csv") +
                       " is the same file as " + (dir / "a.csv") + "; read once\n");
  r = RunProgram(Rwreport(), {dir / "sub"});
  EXPECT_EQ(r.exitCode, 2);
  EXPECT_EQ(r.err, "rwreport: cannot read " + (dir / "sub") + ": Is a directory\n");
}

TEST(RwreportInputTest, SkipBadReadsTheGoodRecordsOfADamagedFile) {
  ScratchDir dir;
  WriteText(dir / "damaged.csv", std::string(kFails) + " 80.00" + kFails);
  RunResult r = RunProgram(Rwreport(), {"--csv", dir / "damaged.csv"});
  EXPECT_EQ(r.exitCode, 2);
  EXPECT_EQ(r.out, "");
  r = RunProgram(Rwreport(), {"--csv", "--skip-bad", dir / "damaged.csv"});
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_NE(r.out.find("\n3,2,200,170,85.00,"), std::string::npos) << r.out;
  EXPECT_EQ(r.err, "rwreport: " + (dir / "damaged.csv") +
                       ":1:25: expected a rate such as \" 87.00%\"; skipped \"80.00 \"\n");
}

TEST(RwreportSafetyTest, ThePageNeverReplacesAnInputNorTakesAnOptionsName) {
  ScratchDir dir;
  WriteText(dir / "a.csv", kFails);
  WriteText(dir / "b.csv", kPasses);
  mkdir((dir / "sub").c_str(), 0700);
  ASSERT_EQ(symlink((dir / "b.csv").c_str(), (dir / "link.csv").c_str()), 0);
  for (const std::string &page : {dir / "b.csv", dir / "sub/../b.csv", dir / "link.csv"}) {
    RunResult r = RunProgram(Rwreport(), {"--html", page, dir / "a.csv", dir / "b.csv"});
    EXPECT_EQ(r.exitCode, 2) << page;
    EXPECT_EQ(r.out, "");
    EXPECT_NE(r.err.find("is the input"), std::string::npos) << r.err;
    EXPECT_EQ(ReadText(dir / "b.csv"), kPasses);
  }
  char here[4096];
  ASSERT_NE(getcwd(here, sizeof here), nullptr);
  ASSERT_EQ(chdir(dir.Path().c_str()), 0);
  RunResult r = RunProgram(Rwreport(), {"--html", "--csv", "a.csv"});
  ASSERT_EQ(chdir(here), 0);
  EXPECT_EQ(r.exitCode, 2);
  EXPECT_EQ(r.out, "");
  EXPECT_FALSE(Exists(dir / "--csv"));
}

TEST(RwreportSafetyTest, ThePageIsReplacedWholeThroughALink) {
  ScratchDir dir;
  WriteText(dir / "a.csv", kFails);
  WriteText(dir / "page.html", "old page");
  ASSERT_EQ(symlink((dir / "page.html").c_str(), (dir / "latest.html").c_str()), 0);
  RunResult r = RunProgram(Rwreport(), {"--html=" + (dir / "latest.html"), dir / "a.csv"});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  struct stat s;
  ASSERT_EQ(lstat((dir / "latest.html").c_str(), &s), 0);
  EXPECT_TRUE(S_ISLNK(s.st_mode));
  EXPECT_EQ(ReadText(dir / "page.html").rfind("<!DOCTYPE html>", 0), 0u);
  // Nothing but the page, its link and the input is left in the folder.
  RunResult listing = RunProgram("/bin/ls", {"-A", dir.Path()});
  EXPECT_EQ(listing.out, "a.csv\nlatest.html\npage.html\n");
  // A page that cannot be written leaves the old one and says why.
  r = RunProgram(Rwreport(), {"--html", dir / "no/such/page.html", dir / "a.csv"});
  EXPECT_EQ(r.exitCode, 2);
  EXPECT_EQ(r.err, "rwreport: cannot create " + (dir / "no/such/page.html") +
                       ": No such file or directory\n");
}

TEST(RwreportSafetyTest, OutputErrorsAreReportedWithTheirReason) {
  ScratchDir dir;
  WriteText(dir / "a.csv", kFails);
  RunResult r = RunRedirected({"--csv", dir / "a.csv"}, ">/dev/full");
  EXPECT_EQ(r.exitCode, 2);
  EXPECT_EQ(r.err, "rwreport: cannot write the standard output: No space left on device\n");
  r = RunRedirected({dir / "a.csv"}, ">&-");
  EXPECT_EQ(r.exitCode, 2);
  EXPECT_NE(r.err.find("rwreport: cannot write the standard output: "), std::string::npos);
  r = RunRedirected({"--html", "/dev/full", dir / "a.csv"}, ">/dev/null");
  EXPECT_EQ(r.exitCode, 2);
  EXPECT_EQ(r.err, "rwreport: cannot write /dev/full: No space left on device\n");
  // The runs of a log are written row by row: the first failed write is
  // told once, and nothing more is tried.
  std::string log = loglines::Start(1000000, "2026-12-07T06:40:00Z", 7, "kestrow", 1);
  for (int run = 1; run <= 300; ++run) {
    log += loglines::Attempt(1000000 + run * 1000000, run, 1, 0, 9000, "none");
    log += loglines::Run(1000000 + run * 1000000 + 1000, run, 1, 1, "100.00");
  }
  WriteText(dir / "log.jsonl", log);
  for (const char *table : {"", "runs"}) {
    std::vector<std::string> args = {dir / "log.jsonl"};
    if (*table) args = {"--csv", table, dir / "log.jsonl"};
    r = RunRedirected(args, ">/dev/full");
    EXPECT_EQ(r.exitCode, 2) << table;
    EXPECT_EQ(r.err, "rwreport: cannot write the standard output: No space left on device\n");
  }
}

// The JUnit file validates against the schema CI servers accept
// (tests/report/data/junit.xsd) with a validating parser, whatever the
// names of its groups hold; it is written whole, and never over an input.
TEST(RwreportSafetyTest, TheJunitFileValidatesAndIsWrittenWhole) {
  if (access("/usr/bin/xmllint", X_OK) != 0) {
    GTEST_SKIP() << "xmllint (libxml2-utils) is missing: the JUnit file was not validated";
  }
  ScratchDir dir;
  std::string hostile = dir / "u<1>&\"'\x01\x1b[31m\xff.csv";
  WriteText(hostile, std::string(kFails) + kFails);
  WriteText(dir / "unit2.csv", kPasses);
  std::string junit = dir / "verdicts.xml";
  RunResult r = RunProgram(Rwreport(), {"--by", "file", "--require", "99", "--junit", junit,
                                        hostile, dir / "unit2.csv"});
  EXPECT_EQ(r.exitCode, 1) << r.err;
  std::string schema = std::string(SOURCE_DIR) + "/tests/report/data/junit.xsd";
  RunResult valid = RunProgram("/usr/bin/xmllint", {"--noout", "--schema", schema, junit});
  EXPECT_EQ(valid.exitCode, 0) << valid.err << ReadText(junit);
  std::string xml = ReadText(junit);
  EXPECT_NE(xml.find("name=\"u&lt;1&gt;&amp;&quot;&apos;\\x01\\x1B[31m\\xFF\"><failure "
                     "type=\"below the required rate\""),
            std::string::npos)
      << xml;
  EXPECT_NE(xml.find("<testcase classname=\"card finding\" name=\"unit2\"><system-out>"),
            std::string::npos)
      << xml;
  // Never over an input, nor over the page.
  for (const std::vector<std::string> &args : std::vector<std::vector<std::string>>{
           {"--junit", dir / "unit2.csv", dir / "unit2.csv"},
           {"--junit", junit, "--html", junit, dir / "unit2.csv"},
           {"--junit", dir / "no/such/x.xml", dir / "unit2.csv"}}) {
    r = RunProgram(Rwreport(), args);
    EXPECT_EQ(r.exitCode, 2) << args[1];
    EXPECT_NE(r.err, "") << args[1];
  }
  EXPECT_EQ(ReadText(dir / "unit2.csv"), kPasses);
  EXPECT_EQ(ReadText(junit), xml);
  // Written when standard output cannot be.
  std::remove(junit.c_str());
  r = RunRedirected({"--junit", junit, dir / "unit2.csv"}, ">/dev/full");
  EXPECT_EQ(r.exitCode, 2);
  EXPECT_EQ(RunProgram("/usr/bin/xmllint", {"--noout", "--schema", schema, junit}).exitCode, 0);
}

// A log of `runs` runs of one attempt each, one a second.
std::string ManyRunsLog(int runs) {
  std::string log = loglines::Start(1000000, "2026-12-07T06:40:00Z", 7, "kestrow", 1);
  for (int run = 1; run <= runs; ++run) {
    log += loglines::Attempt(1000000LL + run * 1000000LL, run, 1, 0, 9000, "none");
    log += loglines::Run(1000000LL + run * 1000000LL + 1000, run, 1, 1, "100.00");
  }
  return log;
}

// Runs rwreport with its standard output into `head -c 1`, which leaves
// after the first byte: more than a pipe holds is written after that.
RunResult RunIntoHead(const std::vector<std::string> &args) {
  std::vector<std::string> all = {
      "-c", "\"$0\" \"$@\" | head -c 1 >/dev/null; exit \"${PIPESTATUS[0]}\"", Rwreport()};
  all.insert(all.end(), args.begin(), args.end());
  return RunProgram("/bin/bash", all);
}

// A reader of standard output that goes away is an output error, as a full
// disk is; the page (what a station keeps) is written all the same.
TEST(RwreportSafetyTest, AClosedPipeIsAnOutputErrorAndThePageIsStillWritten) {
  ScratchDir dir;
  WriteText(dir / "log.jsonl", ManyRunsLog(3000));  // --csv runs: over 64 KiB
  RunResult r = RunIntoHead({"--csv", "runs", dir / "log.jsonl"});
  EXPECT_EQ(r.exitCode, 2);  // not 141, the end by SIGPIPE
  EXPECT_EQ(r.err, "rwreport: cannot write the standard output: Broken pipe\n");
  r = RunIntoHead({"--csv", "runs", "--html", dir / "piped.html", dir / "log.jsonl"});
  EXPECT_EQ(r.exitCode, 2);
  EXPECT_EQ(ReadText(dir / "piped.html").rfind("<!DOCTYPE html>", 0), 0u);
  for (const char *redirect : {">/dev/full", ">&-"}) {
    std::string page = dir / "page.html";
    std::remove(page.c_str());
    r = RunRedirected({"--html", page, "--require", "99", dir / "log.jsonl"}, redirect);
    EXPECT_EQ(r.exitCode, 2) << redirect;
    EXPECT_NE(r.err.find("cannot write the standard output"), std::string::npos) << r.err;
    EXPECT_NE(ReadText(page).find("</html>"), std::string::npos) << redirect;
  }
}

// Memory that runs out is an error with exit status 2, not an abort (134).
// Address space is limited in a child shell; an AddressSanitizer build
// reserves terabytes of it and cannot run so.
TEST(RwreportSafetyTest, RunningOutOfMemoryIsAnErrorNamingIt) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "an AddressSanitizer build cannot run with its address space limited";
#endif
  ScratchDir dir;
  std::string records;
  for (int i = 0; i < 200000; ++i) records += " 85.00%,  85, 100,   3,";
  std::FILE *f = std::fopen((dir / "big.csv").c_str(), "wb");
  ASSERT_NE(f, nullptr);
  for (int copies = 0; copies < 8; ++copies) std::fputs(records.c_str(), f);
  std::fclose(f);  // 1.6 million records in 36 MB
  RunResult r = RunProgram(
      "/bin/bash", {"-c", "ulimit -v 150000 && exec \"$0\" \"$@\"", Rwreport(), dir / "big.csv"});
  EXPECT_EQ(r.exitCode, 2) << r.err;
  EXPECT_EQ(r.err,
            "rwreport: out of memory: the figures of these inputs need more memory than the system "
            "allows\n");
  EXPECT_EQ(r.out, "");
}

TEST(RwreportSafetyTest, ControlCharactersDoNotReachTheTerminal) {
  ScratchDir dir;
  std::string name = dir / "\x1b]0;owned\x07.csv";
  WriteText(name, kFails);
  RunResult r = RunProgram(Rwreport(), {"--by", "file", "--require", "99", name});
  EXPECT_EQ(r.out.find('\x1b'), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("\\x1B]0;owned\\x07: fail"), std::string::npos) << r.out;
  r = RunProgram(Rwreport(), {"--skip-bad", name, dir / "missing\x1b.csv"});
  EXPECT_EQ(r.err.find('\x1b'), std::string::npos) << r.err;
}

}  // namespace
