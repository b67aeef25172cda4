// Event log lines as the tools write them, for the tests of the log reader.
#pragma once

#include <string>

namespace loglines {

inline std::string Start(long long t, const std::string &wall = "2026-12-07T06:40:00Z", int tag = 7,
                         const std::string &tool = "kestrow", int planned = 4,
                         const std::string &resultFile = "") {
  return "{\"v\":2,\"t\":" + std::to_string(t) + ",\"ev\":\"start\",\"tool\":\"" + tool +
         "\",\"title\":\"x\",\"version\":\"1.1.0\",\"wall\":\"" + wall +
         "\",\"port\":\"/dev/ttyUSB0\",\"search\":false,\"baud\":115200,\"ka_kcv\":\"8CA64D\","
         "\"kb_kcv\":\"1F2E3D\",\"ack_ms\":50,\"response_ms\":50,\"des\":true,"
         "\"attempts_per_run\":" +
         std::to_string(planned) + ",\"repeat\":true,\"result_file\":\"" + resultFile +
         "\",\"tag\":" + std::to_string(tag) +
         ",\"failure_limit\":-1,\"comma_terminated\":false,\"frames\":\"failures\"}\n";
}

inline std::string Attempt(long long t, int run, int n, int result, long long us,
                           const std::string &failure) {
  const char *mark = result == 0 ? "o" : result == 2 ? "." : "X";
  return "{\"v\":2,\"t\":" + std::to_string(t) +
         ",\"ev\":\"attempt\",\"run\":" + std::to_string(run) + ",\"n\":" + std::to_string(n) +
         ",\"result\":" + std::to_string(result) + ",\"mark\":\"" + mark +
         "\",\"us\":" + std::to_string(us) + ",\"failure\":\"" + failure + "\"}\n";
}

inline std::string Run(long long t, int run, int successes, int attempts, const std::string &rate,
                       int tag = 7) {
  return "{\"v\":2,\"t\":" + std::to_string(t) + ",\"ev\":\"run\",\"run\":" + std::to_string(run) +
         ",\"successes\":" + std::to_string(successes) +
         ",\"attempts\":" + std::to_string(attempts) + ",\"rate\":" + rate +
         ",\"tag\":" + std::to_string(tag) + ",\"record\":\"r\"}\n";
}

inline std::string Event(long long t, const std::string &kind, const std::string &fields) {
  return "{\"v\":2,\"t\":" + std::to_string(t) + ",\"ev\":\"" + kind + "\"" +
         (fields.empty() ? "" : "," + fields) + "}\n";
}

// A port opened (or not), a connection that worked (or not), the
// reconnection before run `run`: what tells that the R/W went or came back.
inline std::string Open(long long t, bool ok) {
  return Event(t, "open",
               std::string("\"device\":\"/dev/x\",\"baud\":115200,\"ok\":") +
                   (ok ? "true" : "false,\"error\":\"No such file or directory\""));
}

inline std::string Connect(long long t, bool ok) {
  return Event(t, "connect",
               std::string("\"device\":\"/dev/x\",\"baud\":115200,\"des\":true,\"ok\":") +
                   (ok ? "true,\"result\":0,\"failure\":\"none\""
                       : "false,\"result\":3,\"failure\":\"no ACK\""));
}

inline std::string Reconnect(long long t, int run, bool ok) {
  return Event(t, "reconnect",
               "\"run\":" + std::to_string(run) + ",\"ok\":" + (ok ? "true" : "false"));
}

}  // namespace loglines
