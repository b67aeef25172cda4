// The result record formats and reading them back.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "poll/result_record.h"

namespace {

std::string Format(double rate, int successes, int attempts, int tag, bool comma) {
  char text[kMaxRecordText];
  int n = FormatResultRecord(text, rate, successes, attempts, tag, comma);
  EXPECT_EQ(n, static_cast<int>(std::string(text).size()));
  return text;
}

TEST(ResultRecordTest, FourFormats) {
  EXPECT_EQ(Format(87.0, 87, 100, -1, true), " 87.00%,  87, 100,");
  EXPECT_EQ(Format(300.0 / 7, 3, 7, 12, true), " 42.86%,   3,   7,  12,");
  EXPECT_EQ(Format(100.0, 1000, 1000, -1, false), "100.00%,1000,1000\n");
  // The widest record: the largest tag the command line can set.
  EXPECT_EQ(Format(0.0, 0, 5, 2147483647, false), "  0.00%,   0,   5,2147483647\n");
}

std::vector<ParsedRecord> ParseOk(const std::string &text) {
  std::vector<ParsedRecord> records;
  std::string error;
  EXPECT_TRUE(ParseResultRecords(text, "r.csv", &records, &error)) << error;
  return records;
}

std::string ParseError(const std::string &text) {
  std::vector<ParsedRecord> records;
  std::string error;
  EXPECT_FALSE(ParseResultRecords(text, "r.csv", &records, &error)) << text;
  return error;
}

TEST(ResultRecordTest, ReadsEveryFormatMixedOnOneLineAndOnLines) {
  // Untagged and tagged comma records on one line, a tagged line record,
  // an untagged one written on Windows (CR LF), and comma records after it.
  std::vector<ParsedRecord> r = ParseOk(
      " 87.00%,  87, 100, 42.86%,   3,   7,  12,100.00%, 100, 100,\n"
      " 98.00%,  49,  50,   7\n"
      "  0.00%,   0,   5\r\n"
      " 50.00%,   1,   2,   3, 50.00%,   1,   2,");
  ASSERT_EQ(r.size(), 7u);
  EXPECT_DOUBLE_EQ(r[0].record.rate, 87.0);
  EXPECT_EQ(r[0].record.successes, 87);
  EXPECT_EQ(r[0].record.attempts, 100);
  EXPECT_FALSE(r[0].record.tagged);
  EXPECT_TRUE(r[1].record.tagged);
  EXPECT_EQ(r[1].record.tag, 12);
  EXPECT_EQ(r[1].record.successes, 3);
  EXPECT_FALSE(r[2].record.tagged);
  EXPECT_EQ(r[2].record.attempts, 100);
  EXPECT_EQ(r[3].record.tag, 7);
  EXPECT_EQ(r[3].position.line, 2);
  EXPECT_FALSE(r[4].record.tagged);
  EXPECT_EQ(r[4].record.attempts, 5);
  EXPECT_EQ(r[5].record.tag, 3);
  EXPECT_FALSE(r[6].record.tagged);
  EXPECT_EQ(r[6].position.line, 4);
  EXPECT_EQ(r[6].position.column, 25);  // the first character after the padding
  EXPECT_TRUE(ParseOk("").empty());
  EXPECT_TRUE(ParseOk("\n").empty());
}

TEST(ResultRecordTest, WhatTheFormatterWritesReadsBack) {
  std::string text;
  for (bool comma : {true, false}) {
    for (int tag : {-1, 0, 2147483647}) text += Format(200.0 / 3, 2, 3, tag, comma);
  }
  std::vector<ParsedRecord> r = ParseOk(text);
  ASSERT_EQ(r.size(), 6u);
  for (int i = 0; i < 6; ++i) {
    EXPECT_EQ(r[i].record.successes, 2);
    EXPECT_EQ(r[i].record.attempts, 3);
    EXPECT_EQ(r[i].record.tagged, i % 3 != 0) << i;
  }
  EXPECT_EQ(r[2].record.tag, 2147483647);
  EXPECT_EQ(r[4].record.tag, 0);
}

TEST(ResultRecordTest, MalformedRecordsNameFileAndPosition) {
  EXPECT_EQ(ParseError("x"), "r.csv:1:1: expected a rate such as \" 87.00%\"");
  EXPECT_EQ(ParseError(" 87.00%,  87\n"), "r.csv:1:13: expected ',' after the successes");
  EXPECT_EQ(ParseError(" 87.00%,  87, 100"),
            "r.csv:1:18: expected ',' or a line feed at the end of the record");
  EXPECT_EQ(ParseError(" 87.00%,  87, 100,   7"),
            "r.csv:1:23: expected ',' or a line feed at the end of the record");
  EXPECT_EQ(ParseError(" 87.00%,  87, 100,  -1,"), "r.csv:1:21: expected a whole number (tag)");
  EXPECT_EQ(ParseError(" 87.00%,  87, 100,   7   8,"),
            "r.csv:1:23: expected ',' or a line feed at the end of the record");
  EXPECT_EQ(ParseError(" 87.00%,  87,99999999999,"),
            "r.csv:1:14: expected a whole number (attempts)");
  EXPECT_EQ(ParseError(" 87.00%,  87, 100,\nhello\n"),
            "r.csv:2:1: expected a rate such as \" 87.00%\"");
  EXPECT_EQ(ParseError(" 87.00%,  87, 100,\n8.7.0%,   1,   1,"),
            "r.csv:2:1: expected a rate such as \" 87.00%\"");
}

TEST(ResultRecordTest, FiguresThatContradictEachOther) {
  EXPECT_EQ(ParseError("\n 50.00%,  87, 100,"),
            "r.csv:2:15: the rate does not match successes and attempts");
  EXPECT_EQ(ParseError("100.00%, 101, 100,"), "r.csv:1:15: more successes than attempts");
  EXPECT_EQ(ParseError("  0.00%,   0,   0,"), "r.csv:1:17: a record needs at least one attempt");
  EXPECT_EQ(ParseError("101.00%, 101, 101,"), "r.csv:1:1: a rate above 100%");
  // Rounded to two decimals as written: 2/3 is 66.67, not 66.66.
  EXPECT_EQ(ParseError(" 66.66%,   2,   3,"),
            "r.csv:1:17: the rate does not match successes and attempts");
}

}  // namespace
