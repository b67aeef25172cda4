// rwreport's event log reader over any bytes: every line is checked and
// refused or taken, never read beyond, and the soak series made of what was
// taken renders as text, CSV and SVG.
#include <cstddef>
#include <cstdint>
#include <string>

#include "report/log_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  std::string text(reinterpret_cast<const char *>(data), size);
  // Small chunks, so that lines are split across them; an automatic and a
  // fixed bin width; grouping by tag and by file.
  SeriesBuilder series(size % 3 ? 0 : 60);
  EventLogReader reader(&series, 7);
  std::string error;
  reader.Read(nullptr, text, "fuzz.jsonl", size % 2 ? "" : "fuzz", &error);
  if (!series.Empty()) {
    SeriesSet set = series.Build();
    SeriesText(set);
    SeriesCsv(set);
    for (const Series &one : set.series) SeriesSvg(one, set.binSeconds, 0);
  }
  return 0;
}
