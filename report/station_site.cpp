#include "report/station_site.h"

#include "report/station_metrics.h"

std::optional<HttpContent> StationSite::Find(std::string_view path) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (path == "/" || path == "/index.html") {
    if (!page_) page_ = std::make_shared<const std::string>(LivePage());
    return HttpContent{kHtmlContentType, page_};
  }
  bool metrics = path == "/metrics";
  if (!metrics && path != "/status.json") return std::nullopt;
  std::shared_ptr<const StationSnapshot> latest = snapshots_->Latest();
  if (!latest) latest = std::make_shared<const StationSnapshot>();
  if (latest != rendered_.snapshot) rendered_ = Rendered{latest, nullptr, nullptr};
  std::shared_ptr<const std::string> &text = metrics ? rendered_.metrics : rendered_.status;
  if (!text) {
    text =
        std::make_shared<const std::string>(metrics ? MetricsText(*latest) : StatusJson(*latest));
  }
  return HttpContent{metrics ? kMetricsContentType : kJsonContentType, text};
}
