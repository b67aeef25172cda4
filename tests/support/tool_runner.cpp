#include "tests/support/tool_runner.h"

#include <cstdlib>

#include <gtest/gtest.h>

namespace {

const int kRunTimeoutMs = 120000;

class NativeTools : public ToolRunner {
 public:
  std::string Name() const override { return "Native"; }
  std::string Unavailable() const override { return ""; }
  std::unique_ptr<SimProcess> StartSim(int, std::vector<std::string> args) const override {
    return std::make_unique<SimProcess>(std::move(args));
  }
  std::string PortName(const SimProcess &sim, int) const override { return sim.Path(); }
  std::string ToolPath(const ScratchDir &dir, const std::string &name) const override {
    return dir / name;
  }
  std::string Text(const std::string &text) const override { return text; }
  RunResult Run(const std::string &tool, const std::vector<std::string> &args) const override {
    return RunProgram(BinDir() + "/" + tool, args, "", kRunTimeoutMs);
  }
  std::unique_ptr<ChildProcess> Start(const std::string &tool,
                                      const std::vector<std::string> &args) const override {
    return std::make_unique<ChildProcess>(BinDir() + "/" + tool, args);
  }
};

std::string RequiredEnv(const char *name) {
  const char *value = std::getenv(name);
  if (!value || !*value) {
    ADD_FAILURE() << name << " is not set: run these tests through scripts/test-windows.sh";
    return "/nonexistent";
  }
  return value;
}

class WineTools : public ToolRunner {
 public:
  std::string Name() const override { return "Wine"; }
  // The Windows stage sets up Wine and pins its COM ports; elsewhere these
  // instances skip.
  std::string Unavailable() const override {
    const char *comDir = std::getenv("WINE_COM_DIR");
    return comDir && *comDir ? "" : "WINE_COM_DIR is not set";
  }
  std::unique_ptr<SimProcess> StartSim(int port, std::vector<std::string> args) const override {
    args.push_back("--link=" + RequiredEnv("WINE_COM_DIR") + "/com" + std::to_string(port));
    return std::make_unique<SimProcess>(std::move(args));
  }
  std::string PortName(const SimProcess &, int port) const override {
    return "COM" + std::to_string(port);
  }
  // Wine's drive Z: is the host's root.
  std::string ToolPath(const ScratchDir &dir, const std::string &name) const override {
    std::string path = "Z:" + (dir / name);
    for (char &c : path) {
      if (c == '/') c = '\\';
    }
    return path;
  }
  // Windows text mode stores every line feed as CR LF.
  std::string Text(const std::string &text) const override {
    std::string out;
    for (char c : text) {
      if (c == '\n') out += '\r';
      out += c;
    }
    return out;
  }
  RunResult Run(const std::string &tool, const std::vector<std::string> &args) const override {
    return RunProgram(RequiredEnv("WINE"), WithExe(tool, args), "", kRunTimeoutMs);
  }
  std::unique_ptr<ChildProcess> Start(const std::string &tool,
                                      const std::vector<std::string> &args) const override {
    return std::make_unique<ChildProcess>(RequiredEnv("WINE"), WithExe(tool, args));
  }

 private:
  static std::vector<std::string> WithExe(const std::string &tool,
                                          const std::vector<std::string> &args) {
    std::vector<std::string> all = {RequiredEnv("WINDOWS_BIN_DIR") + "/" + tool + ".exe"};
    all.insert(all.end(), args.begin(), args.end());
    return all;
  }
};

}  // namespace

const ToolRunner *NativeRunner() {
  static const NativeTools runner;
  return &runner;
}

const ToolRunner *WineRunner() {
  static const WineTools runner;
  return &runner;
}
