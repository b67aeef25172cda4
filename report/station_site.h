// What the station's HTTP server serves: /metrics, /status.json and the live
// page at /, each rendered from the latest published snapshot.
#pragma once

#include <memory>
#include <mutex>
#include <optional>
#include <string_view>

#include "report/http_server.h"
#include "report/station_snapshot.h"

class StationSite {
 public:
  explicit StationSite(const SnapshotHolder *snapshots) : snapshots_(snapshots) {}
  // The content of `path`; none for a path the station does not serve.
  std::optional<HttpContent> Find(std::string_view path);

 private:
  // The texts of one snapshot, rendered when first asked for: scrapers and
  // open pages between two snapshots share them.
  struct Rendered {
    std::shared_ptr<const StationSnapshot> snapshot;
    std::shared_ptr<const std::string> metrics;
    std::shared_ptr<const std::string> status;
  };
  const SnapshotHolder *snapshots_;
  std::shared_ptr<const std::string> page_;
  std::mutex mutex_;
  Rendered rendered_;
};
