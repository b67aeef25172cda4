#include "app/rwstation/station_publish.h"

#include <chrono>
#include <memory>

#include "platform/platform.h"

std::string DefaultStationName() {
  std::string name = platform::HostName();
  return name.empty() ? "station" : name;
}

double UnixTime() {
  using namespace std::chrono;
  return duration<double>(system_clock::now().time_since_epoch()).count();
}

const char *StateLabel(ReaderState state) {
  return state == ReaderState::kLost ? "lost" : StateName(state);
}

namespace {

ReaderSnapshot ReaderFigures(const StationReader &reader) {
  const ReaderProgress &p = reader.progress;
  ReaderSnapshot r;
  r.name = reader.plan.name;
  r.tool = reader.plan.tool;
  r.port = reader.plan.port;
  r.state = StateLabel(p.state);
  r.cause = p.cause;
  // The station's own count: a start that failed before the tool logged
  // anything counts too.
  r.starts = reader.starts;
  r.runs = p.runs;
  r.attempts = p.attempts;
  r.successes = p.successes;
  r.failures = p.failures;
  r.losses.episodes = static_cast<long long>(p.losses.Episodes().size());
  r.losses.attempts = p.losses.LossAttempts();
  r.losses.seconds = p.losses.LostSeconds();
  r.reconnections = p.reconnections;
  if (p.lastAttemptWallUs) r.lastAttemptTime = static_cast<double>(*p.lastAttemptWallUs) / 1e6;
  r.pollDurations = p.pollDurations;
  r.lastMarks = p.lastMarks;
  r.recent = p.recent;
  return r;
}

}  // namespace

StationSnapshot TakeSnapshot(const Station &station, const StationIdentity &identity,
                             double unixTime) {
  StationSnapshot s;
  s.name = identity.name;
  s.version = identity.version;
  s.title = identity.title;
  s.session = station.Settings().folder;
  s.startTime = identity.startTime;
  s.time = unixTime;
  s.requiredRate = identity.requiredRate;
  s.readers.reserve(station.Readers().size());
  for (const StationReader &reader : station.Readers()) s.readers.push_back(ReaderFigures(reader));
  return s;
}

StationServer::StationServer(StationIdentity identity)
    : identity_(std::move(identity)),
      site_(&snapshots_),
      server_([this](std::string_view path) { return site_.Find(path); }) {}

bool StationServer::Listen(const ListenAddress &address, std::string *error) {
  address_ = address;
  if (!server_.Listen(address, error)) return false;
  address_.port = server_.Port();
  return true;
}

std::string StationServer::Url() const { return "http://" + ListenAddressText(address_) + "/"; }

void StationServer::Start(const Station &station) {
  Publish(station);
  server_.Start();
}

void StationServer::Publish(const Station &station) {
  snapshots_.Publish(
      std::make_shared<const StationSnapshot>(TakeSnapshot(station, identity_, UnixTime())));
}

void StationServer::Stop() { server_.Stop(); }
