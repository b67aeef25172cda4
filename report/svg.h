// The pieces the page's charts are drawn with, and their colours, in one
// place: the rate chart and the latency chart of the page and the soak
// series' charts use the same numbers, lines, texts and marks, so that they
// look alike and a colour is changed once.
#pragma once

#include <string>

namespace svg {

// Colours. The page's tests find the interval bars, the pooled lines and
// the runs' dots by these values in a screenshot.
constexpr char kIntervalColour[] = "#4a90d9";  // interval bars, the series' band fill
constexpr char kOverallColour[] = "#9aa7b4";   // the interval bar of all runs
constexpr char kPooledColour[] = "#1a3f73";    // the pooled rate, the series' rate line
constexpr char kAlertColour[] = "#e4572e";     // runs' dots, failed reconnections, stops
constexpr char kLatencyColour[] = "#6a9f3a";
constexpr char kMutedColour[] = "#888888";  // dividers, reconnections that worked
constexpr char kGridColour[] = "#dddddd";
constexpr char kInkColour[] = "#222222";          // frames, ticks, axis breaks
constexpr char kBandColour[] = "#7aa9dd";         // the edge of the series' band
constexpr char kRequirementColour[] = "#2e7d32";  // the required rate
constexpr char kLossColour[] = "#f4b6b6";         // spans in which the R/W was gone

// A coordinate or size with one decimal.
std::string Number(double value);

// `text` with &, <, > and " as entities, for element text and attribute
// values in SVG and HTML alike.
std::string Escape(const std::string &text);

// The opening tag of a chart as wide as the page: `id` and `cssClass` for
// the page, a view box of `width` x `height`, and `label` for readers that
// do not see it.
std::string Open(const std::string &id, const char *cssClass, double width, double height,
                 int fontSize, const std::string &label);

// A line from (x1, y1) to (x2, y2); `extra` holds more attributes, each
// with its leading blank.
std::string Line(double x1, double y1, double x2, double y2, const char *colour,
                 const std::string &extra = "");

// `text` at (x, y), anchored "start", "middle" or "end".
std::string Text(double x, double y, const char *anchor, const std::string &text,
                 const std::string &extra = "");

// The break mark on a value axis at (x, y), its foot: the axis does not
// start at 0.
std::string AxisBreak(double x, double y);

}  // namespace svg
