// Reading the station's live page as headless Chromium built it (--dump-dom):
// a reader's table row and its cells.
#pragma once

#include <string>

// The row of the reader whose name cell holds `name` (as the page shows it);
// "" when there is none.
inline std::string PageRow(const std::string &dom, const std::string &name) {
  std::size_t cell = dom.find("<td data-col=\"reader\">" + name + "</td>");
  if (cell == std::string::npos) return "";
  std::size_t start = dom.rfind("<tr", cell);
  return dom.substr(start, dom.find("</tr>", cell) - start);
}

// The text of a row's cell of `column`.
inline std::string PageCell(const std::string &row, const std::string &column) {
  std::size_t at = row.find("data-col=\"" + column + "\"");
  if (at == std::string::npos) return "<no cell>";
  at = row.find('>', at) + 1;
  return row.substr(at, row.find('<', at) - at);
}
