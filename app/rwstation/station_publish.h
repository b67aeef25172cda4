// The station's HTTP face while a session runs: its readers' figures copied
// into a snapshot about twice a second, and served from the latest one by a
// server on a thread of its own, so that no client ever waits on the
// station's loop nor the loop on a client.
#pragma once

#include <optional>
#include <string>

#include "app/rwstation/station.h"
#include "report/http_server.h"
#include "report/station_site.h"
#include "report/station_snapshot.h"

// What the station says of itself in every snapshot.
struct StationIdentity {
  std::string name;  // --station, else the host name
  std::string version;
  std::string title;
  double startTime = 0;                // unix seconds
  std::optional<double> requiredRate;  // the gate as a ratio 0 to 1
};

// The station's name when none is given: the host name, or "station" when
// the system does not tell it.
std::string DefaultStationName();

// The time now in unix seconds.
double UnixTime();

// The metrics' name of a reader's state: the progress model's, with "lost"
// for a lost R/W.
const char *StateLabel(ReaderState state);

// A copy of every reader's figures at `unixTime`.
StationSnapshot TakeSnapshot(const Station &station, const StationIdentity &identity,
                             double unixTime);

class StationServer {
 public:
  explicit StationServer(StationIdentity identity);
  // Binds at once: an address in use or not this computer's is known before
  // any reader starts. False with the system's reason.
  [[nodiscard]] bool Listen(const ListenAddress &address, std::string *error);
  // "http://127.0.0.1:9464/", as people open it.
  std::string Url() const;
  // Publishes the station's figures as they are now, and serves from then on.
  void Start(const Station &station);
  void Publish(const Station &station);
  void Stop();

 private:
  StationIdentity identity_;
  ListenAddress address_;
  SnapshotHolder snapshots_;
  StationSite site_;
  HttpServer server_;  // last: stopped before what it serves goes
};
