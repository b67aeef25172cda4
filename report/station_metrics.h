// The station's figures for other programs: Prometheus metrics, the status
// JSON that scripts and the live page read, and the live page itself.
#pragma once

#include <string>
#include <string_view>

#include "report/station_snapshot.h"

// The Prometheus text exposition format, version 0.0.4.
constexpr char kMetricsContentType[] = "text/plain; version=0.0.4; charset=utf-8";
constexpr char kJsonContentType[] = "application/json";
constexpr char kHtmlContentType[] = "text/html; charset=utf-8";

// The status JSON's "format": raised when a field changes meaning or goes
// (docs/station-status.md).
constexpr int kStatusFormat = 1;

// The state names a reader's state series are given, each with 0 or 1, so
// that a state's series exists before the reader first enters it. A state
// outside the list still gets a series of its own.
constexpr const char *kReaderStateNames[] = {"starting", "connecting", "polling", "reconnecting",
                                             "lost",     "stopping",   "stopped", "failed"};

// Every family once with its HELP and TYPE lines, one series per reader
// (labelled station, reader, tool, port), label values escaped.
std::string MetricsText(const StationSnapshot &snapshot);

// The same figures as one JSON object, with each reader's rate and its 95 %
// Wilson score interval.
std::string StatusJson(const StationSnapshot &snapshot);

// The live page: one self-contained HTML document that polls /status.json.
std::string_view LivePage();

// `text` with every byte sequence that is not UTF-8 replaced by U+FFFD, so
// that what a plan or a log holds can go into a label or a JSON string.
std::string ValidUtf8(std::string_view text);
