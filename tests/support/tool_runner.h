// Runs kestrow and brimlet the way one platform's build meets them, so that
// one scenario can check the Linux programs and the Windows ones under Wine
// alike: the port a simulator sits behind, the paths the tool is given, the
// line ends it writes.
#pragma once

#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "tests/support/process.h"
#include "tests/support/scratch_dir.h"
#include "tests/support/sim_process.h"

class ToolRunner {
 public:
  virtual ~ToolRunner() = default;
  // The platform's name, for the tests' names.
  virtual std::string Name() const = 0;
  // Why this platform's programs cannot run here; empty when they can.
  virtual std::string Unavailable() const = 0;
  // A simulator with `args`, reachable as port number `port`.
  virtual std::unique_ptr<SimProcess> StartSim(int port, std::vector<std::string> args) const = 0;
  // The port name the tool is given for that simulator.
  virtual std::string PortName(const SimProcess &sim, int port) const = 0;
  // `name` in `dir` as the tool is given it.
  virtual std::string ToolPath(const ScratchDir &dir, const std::string &name) const = 0;
  // `text` with the line ends the tool writes to its console and text files.
  virtual std::string Text(const std::string &text) const = 0;
  virtual RunResult Run(const std::string &tool, const std::vector<std::string> &args) const = 0;
  virtual std::unique_ptr<ChildProcess> Start(const std::string &tool,
                                              const std::vector<std::string> &args) const = 0;
};

// The programs built here, on the simulator's pseudo-terminal.
const ToolRunner *NativeRunner();
// The Windows programs (WINDOWS_BIN_DIR) under $WINE, on the COM ports
// pinned to links in WINE_COM_DIR (scripts/test-windows.sh sets them up).
const ToolRunner *WineRunner();

// Shows the platform, not the address, where GoogleTest prints a parameter.
inline void PrintTo(const ToolRunner *runner, std::ostream *out) { *out << runner->Name(); }

// For INSTANTIATE_TEST_SUITE_P: names each instance after its platform.
struct RunnerName {
  template <class ParamInfo>
  std::string operator()(const ParamInfo &info) const {
    return info.param->Name();
  }
};
