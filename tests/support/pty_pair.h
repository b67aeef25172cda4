// A pseudo-terminal pair for tests that play the R/W: the code under test
// opens the slave by path, the test reads and writes the master.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

using Bytes = std::vector<std::uint8_t>;

class PtyPair {
 public:
  PtyPair();
  ~PtyPair();
  PtyPair(const PtyPair &) = delete;
  PtyPair &operator=(const PtyPair &) = delete;

  const std::string &SlavePath() const { return slavePath_; }
  int MasterFd() const { return master_; }
  // The port path as the tools build it from `c NAME`.
  std::string PortPath() const { return "//.//" + slavePath_; }

  void Write(const Bytes &bytes);
  // Reads until `count` bytes came or `timeoutMs` passed with none.
  Bytes Read(std::size_t count, int timeoutMs);
  // Reads whatever arrives until `quietMs` pass without a byte.
  Bytes ReadAll(int quietMs);

 private:
  int master_ = -1;
  int slaveKeeper_ = -1;  // keeps the slave side alive between opens
  std::string slavePath_;
};

std::string Hex(const Bytes &bytes);
