// Text from files on its way to a spreadsheet or a terminal, and the good
// records of a damaged result file.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "report/csv_cells.h"
#include "report/damaged_records.h"
#include "report/report_output.h"

namespace {

TEST(CsvCellTest, QuotesPerRfc4180AndDisarmsFormulas) {
  EXPECT_EQ(CsvCell("plain"), "plain");
  EXPECT_EQ(CsvCell(""), "");
  EXPECT_EQ(CsvCell("a,b"), "\"a,b\"");
  EXPECT_EQ(CsvCell("say \"hi\""), "\"say \"\"hi\"\"\"");
  EXPECT_EQ(CsvCell("a\rb"), "\"a\rb\"");
  EXPECT_EQ(CsvCell("a\nb"), "\"a\nb\"");
  EXPECT_EQ(CsvCell("=HYPERLINK(\"x\")"), "\"'=HYPERLINK(\"\"x\"\")\"");
  EXPECT_EQ(CsvCell("+1+2"), "'+1+2");
  EXPECT_EQ(CsvCell("-x.csv"), "'-x.csv");
  EXPECT_EQ(CsvCell("@SUM(A1)"), "'@SUM(A1)");
  EXPECT_EQ(CsvCell("\tx"), "'\tx");
  EXPECT_EQ(CsvCell("\rx"), "\"'\rx\"");
  // Numbers stay numbers, negative ones too.
  EXPECT_EQ(CsvCell("-13.41"), "-13.41");
  EXPECT_EQ(CsvCell("-7"), "-7");
  EXPECT_EQ(CsvCell("2.451e-05"), "2.451e-05");
  EXPECT_EQ(CsvLine({"a", "=b", "", "-1.5"}), "a,'=b,,-1.5\n");
}

TEST(PrintableTest, ControlCharactersAreShownNotSent) {
  EXPECT_EQ(Printable("kestrow"), "kestrow");
  EXPECT_EQ(Printable("\x1b]0;owned\x07x"), "\\x1B]0;owned\\x07x");
  EXPECT_EQ(Printable("a\nb\rc\x7f"), "a\\x0Ab\\x0Dc\\x7F");
  EXPECT_EQ(Printable("\xc2\x9b"
                      "31m"),
            "\\xC2\\x9B31m");  // CSI in UTF-8
  EXPECT_EQ(Printable("Gr\xc3\xbc\xc3\x9f"
                      "e"),
            "Gr\xc3\xbc\xc3\x9f"
            "e");
}

struct Read {
  std::vector<ParsedRecord> records;
  std::vector<std::string> skipped;
};

Read ReadGood(const std::string &text) {
  Read r;
  ParseGoodResultRecords(text, "f.csv", &r.records, &r.skipped);
  return r;
}

TEST(FixedTest, NumbersThatRoundToZeroHaveNoSign) {
  EXPECT_EQ(Fixed2(-0.004), "0.00");
  EXPECT_EQ(Fixed2(-0.005001), "-0.01");
  EXPECT_EQ(FixedN(-1e-9, 4), "0.0000");
  EXPECT_EQ(FixedN(99.99989, 5), "99.99989");
}

TEST(DamagedRecordsTest, KeepsTheGoodRecordsAroundHalfARecord) {
  // A full disk left " 80.00"; the next run appended behind it.
  Read r = ReadGood(
      " 87.00%,  87, 100,   3, 80.00 90.00%,  90, 100,   3,\n"
      " 50.00%,   1,   2\n"
      " 50.00%,   1,   3\n"
      " 75.00%,   3,   4,   3,");
  ASSERT_EQ(r.records.size(), 4u);
  EXPECT_EQ(r.records[0].record.successes, 87);
  EXPECT_EQ(r.records[1].record.successes, 90);
  EXPECT_EQ(r.records[1].position.line, 1);
  EXPECT_EQ(r.records[1].position.column, 31);
  EXPECT_EQ(r.records[2].position.line, 2);
  EXPECT_EQ(r.records[3].position.line, 4);
  EXPECT_EQ(r.records[3].record.tag, 3);
  ASSERT_EQ(r.skipped.size(), 2u);
  EXPECT_EQ(r.skipped[0], "f.csv:1:25: expected a rate such as \" 87.00%\"; skipped \"80.00 \"");
  EXPECT_EQ(
      r.skipped[1],
      "f.csv:3:2: the rate does not match successes and attempts; skipped \"50.00%,   1,   3\"");
}

TEST(DamagedRecordsTest, AnIntactFileReadsAsTheStrictReaderReadsIt) {
  const std::string text = " 87.00%,  87, 100,   3,100.00%,  50,  50,\r\n 98.00%,  49,  50,  12\n";
  Read r = ReadGood(text);
  std::vector<ParsedRecord> strict;
  std::string error;
  ASSERT_TRUE(ParseResultRecords(text, "f.csv", &strict, &error)) << error;
  EXPECT_TRUE(r.skipped.empty());
  ASSERT_EQ(r.records.size(), strict.size());
  for (std::size_t i = 0; i < strict.size(); ++i) {
    EXPECT_EQ(r.records[i].position.line, strict[i].position.line) << i;
    EXPECT_EQ(r.records[i].position.column, strict[i].position.column) << i;
    EXPECT_EQ(r.records[i].record.tagged, strict[i].record.tagged) << i;
  }
  // Nothing but damage: nothing read, all named.
  r = ReadGood(" 80.00");
  EXPECT_TRUE(r.records.empty());
  EXPECT_EQ(r.skipped.size(), 1u);
}

}  // namespace
