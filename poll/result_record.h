// The result file's records: written by the polling loop, read back by
// rwreport. A record is rate, successes, attempts and an optional tag,
// ended by a comma (records follow each other on one line) or a line feed.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

// The longest record the formatter writes, with its terminating NUL:
// "100.00%" and three fields of up to 11 characters with their commas.
constexpr std::size_t kMaxRecordText = 64;

struct ResultRecord {
  double rate = 0;  // percent, as written with two decimals
  int successes = 0;
  int attempts = 0;
  bool tagged = false;
  int tag = 0;
};

// Writes the record in the format its tag and terminator select into `out`
// (at least kMaxRecordText bytes). `tag` is -1 for a record without tag.
// Returns the number of characters written.
int FormatResultRecord(char *out, double rate, int successes, int attempts, int tag,
                       bool commaTerminated);

// Where a record begins in its file, for messages.
struct RecordPosition {
  int line = 1;
  int column = 1;
};

struct ParsedRecord {
  ResultRecord record;
  RecordPosition position;
};

// Reads every record of a result file's text, in either terminator and
// with or without tags, also mixed. Returns false at the first malformed
// record, with `error` naming `fileName`, line and column and what was
// wrong; nothing is skipped.
bool ParseResultRecords(const std::string &text, const std::string &fileName,
                        std::vector<ParsedRecord> *records, std::string *error);

// What is wrong with a record's figures (no attempt, more successes than
// attempts, a rate that does not match them), or nullptr when they hold
// together. Every reader of run figures checks them with this.
const char *RecordFiguresProblem(const ResultRecord &record);
