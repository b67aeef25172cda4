// Cells made safe for where they go: CSV for spreadsheets and scripts, and
// text for a terminal. Text read from files (file names, a log's tool or
// failure names) may hold anything.
#pragma once

#include <string>
#include <vector>

// A CSV cell per RFC 4180: quoted when it holds a comma, a quote, CR or LF,
// quotes doubled. A text cell that a spreadsheet would run as a formula
// (beginning with =, +, -, @, tab or CR) gets a leading apostrophe; a
// number stays as it is.
std::string CsvCell(const std::string &cell);

// The cells as one CSV line, ended by a line feed.
std::string CsvLine(const std::vector<std::string> &cells);

// `text` with control characters (C0, DEL, and C1 in UTF-8) shown as \xHH,
// so that nothing in it acts on a terminal.
std::string Printable(const std::string &text);
