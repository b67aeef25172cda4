#include "report/csv_cells.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

// A plain decimal number as rwreport writes them: optional minus, digits,
// optional fraction.
bool IsNumber(const std::string &cell) {
  std::size_t i = cell[0] == '-' ? 1 : 0;
  std::size_t digits = 0, points = 0;
  for (; i < cell.size(); ++i) {
    if (cell[i] == '.') {
      ++points;
    } else if (cell[i] >= '0' && cell[i] <= '9') {
      ++digits;
    } else {
      return false;
    }
  }
  return digits > 0 && points <= 1;
}

bool RunsAsFormula(const std::string &cell) {
  return !cell.empty() && std::strchr("=+-@\t\r", cell[0]) != nullptr && !IsNumber(cell);
}

std::string Hex(unsigned char c) {
  char text[8];
  std::snprintf(text, sizeof text, "\\x%02X", c);
  return text;
}

}  // namespace

std::string CsvCell(const std::string &cell) {
  std::string text = RunsAsFormula(cell) ? "'" + cell : cell;
  if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
  std::string out = "\"";
  for (char c : text) out += c == '"' ? std::string("\"\"") : std::string(1, c);
  return out + "\"";
}

std::string CsvLine(const std::vector<std::string> &cells) {
  std::string line;
  for (std::size_t i = 0; i < cells.size(); ++i) line += (i ? "," : "") + CsvCell(cells[i]);
  return line + "\n";
}

std::string Printable(const std::string &text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    unsigned char next = i + 1 < text.size() ? static_cast<unsigned char>(text[i + 1]) : 0;
    if (c < 0x20 || c == 0x7F) {
      out += Hex(c);
    } else if (c == 0xC2 && next >= 0x80 && next <= 0x9F) {  // U+0080 to U+009F
      out += Hex(c) + Hex(next);
      ++i;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}
