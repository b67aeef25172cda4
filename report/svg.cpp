#include "report/svg.h"

#include <cstdio>

namespace svg {

std::string Number(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f", value);
  return text;
}

std::string Escape(const std::string &text) {
  std::string out;
  for (char c : text) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      default: out += c;
    }
  }
  return out;
}

std::string Open(const std::string &id, const char *cssClass, double width, double height,
                 int fontSize, const std::string &label) {
  return "<svg id=\"" + Escape(id) + "\" class=\"" + cssClass +
         "\" xmlns=\"http://www.w3.org/2000/svg\" width=\"100%\" viewBox=\"0 0 " + Number(width) +
         " " + Number(height) + "\" font-family=\"sans-serif\" font-size=\"" +
         std::to_string(fontSize) + "\" role=\"img\" aria-label=\"" + Escape(label) + "\">\n";
}

std::string Line(double x1, double y1, double x2, double y2, const char *colour,
                 const std::string &extra) {
  return "<line x1=\"" + Number(x1) + "\" y1=\"" + Number(y1) + "\" x2=\"" + Number(x2) +
         "\" y2=\"" + Number(y2) + "\" stroke=\"" + colour + "\"" + extra + "/>";
}

std::string Text(double x, double y, const char *anchor, const std::string &text,
                 const std::string &extra) {
  return "<text x=\"" + Number(x) + "\" y=\"" + Number(y) + "\" text-anchor=\"" + anchor + "\"" +
         extra + ">" + Escape(text) + "</text>";
}

std::string AxisBreak(double x, double y) {
  return "<path class=\"axis-break\" d=\"M" + Number(x - 6) + " " + Number(y - 10) +
         " l12 -6 m-12 12 l12 -6\" stroke=\"" + kInkColour +
         "\" fill=\"none\" stroke-width=\"2\"/>";
}

}  // namespace svg
