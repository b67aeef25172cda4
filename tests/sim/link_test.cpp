// rwsim's --link: one owner per path, stale links taken over, nothing else
// replaced, and errors that name the path.
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "project_version.h"
#include "tests/support/process.h"
#include "tests/support/scratch_dir.h"
#include "tests/support/scripted_rw.h"
#include "tests/support/text_files.h"

namespace {

namespace fs = std::filesystem;

std::string Rwsim() { return BinDir() + "/rwsim"; }

std::string LinkTarget(const std::string &link) {
  std::error_code error;
  fs::path target = fs::read_symlink(link, error);
  return error ? "<none>" : target.string();
}

void WriteText(const std::string &path, const std::string &text) {
  std::FILE *f = std::fopen(path.c_str(), "wb");
  ASSERT_NE(f, nullptr);
  std::fputs(text.c_str(), f);
  std::fclose(f);
}

TEST(SimLinkTest, SecondSimulatorOnTheSamePathIsRefused) {
  ScratchDir dir;
  std::string link = dir / "rw0";
  ChildProcess first(Rwsim(), {"--link=" + link});
  std::string terminal = first.ReadLine(10000);
  ASSERT_FALSE(terminal.empty());
  EXPECT_EQ(LinkTarget(link), terminal);

  RunResult second = RunProgram(Rwsim(), {"--link=" + link}, "", 20000);
  EXPECT_EQ(second.exitCode, 1);
  EXPECT_EQ(second.out, "");
  EXPECT_NE(second.err.find(link + " is in use by another running simulator"), std::string::npos)
      << second.err;
  EXPECT_NE(second.err.find("lock file " + link + ".lock"), std::string::npos) << second.err;
  EXPECT_EQ(LinkTarget(link), terminal) << "the refused simulator must leave the link alone";

  first.Signal(SIGTERM);
  EXPECT_EQ(first.Wait(10000), 0);
  EXPECT_FALSE(fs::exists(fs::symlink_status(link))) << "link removed on exit";
  EXPECT_FALSE(fs::exists(link + ".lock")) << "lock file removed on exit";
}

TEST(SimLinkTest, LinkOfAKilledSimulatorIsTakenOver) {
  ScratchDir dir;
  std::string link = dir / "rw0";
  {
    ChildProcess killed(Rwsim(), {"--link=" + link});
    ASSERT_FALSE(killed.ReadLine(10000).empty());
    killed.Signal(SIGKILL);
    EXPECT_EQ(killed.Wait(10000), 128 + SIGKILL);
  }
  ASSERT_TRUE(fs::is_symlink(link)) << "a killed simulator cannot clean up";

  std::string stale = ReadFile(link + ".lock");
  ASSERT_EQ(stale.rfind("rwsim ", 0), 0u) << "a killed simulator leaves its signed lock file";

  ChildProcess next(Rwsim(), {"--link=" + link});
  std::string terminal = next.ReadLine(10000);
  ASSERT_FALSE(terminal.empty()) << next.Errors();
  EXPECT_EQ(LinkTarget(link), terminal);
  EXPECT_NE(ReadFile(link + ".lock"), stale) << "the lock file names the new owner";
  next.Signal(SIGTERM);
  EXPECT_EQ(next.Wait(10000), 0);
  EXPECT_FALSE(fs::exists(fs::symlink_status(link)));
}

// Whatever is at PATH.lock that no simulator left behind stays as it was, and
// the refusal names it: another program's process number file, and a
// simulator's signature naming a process that still runs.
TEST(SimLinkTest, LeavesALockFileThatIsNotASimulatorsAlone) {
  ScratchDir dir;
  std::string link = dir / "rw0";
  std::string lock = link + ".lock";
  const std::string alive = "rwsim " + std::to_string(getpid()) + "\n";
  for (const std::string &contents :
       {std::string("keep me\n"), std::string(), std::string("123 456\n"), std::string("12345"),
        std::string("1\n"), std::string("999999\n"), std::string("rwsim \n"), alive}) {
    WriteText(lock, contents);
    RunResult r = RunProgram(Rwsim(), {"--link=" + link}, "", 20000);
    EXPECT_EQ(r.exitCode, 1) << contents;
    EXPECT_EQ(r.out, "");
    EXPECT_NE(r.err.find("the lock file " + lock + " of link " + link), std::string::npos) << r.err;
    EXPECT_EQ(ReadFile(lock), contents);
    EXPECT_FALSE(fs::exists(fs::symlink_status(link))) << "no link without the lock";
  }
  fs::remove(lock);
  fs::create_directory(lock);
  RunResult r = RunProgram(Rwsim(), {"--link=" + link}, "", 20000);
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_NE(r.err.find(lock), std::string::npos) << r.err;
  EXPECT_TRUE(fs::is_directory(lock));
}

TEST(SimLinkTest, RefusesToReplaceWhatIsNotASimulatorLink) {
  ScratchDir dir;
  std::string file = dir / "data";
  WriteText(file, "keep me");
  RunResult r = RunProgram(Rwsim(), {"--link=" + file}, "", 20000);
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_NE(r.err.find(file + " exists and is not a symbolic link"), std::string::npos) << r.err;
  EXPECT_EQ(ReadFile(file), "keep me");
  EXPECT_FALSE(fs::exists(file + ".lock")) << "the lock file it made itself is removed";

  std::string userLink = dir / "mine";
  fs::create_symlink(file, userLink);
  r = RunProgram(Rwsim(), {"--link=" + userLink}, "", 20000);
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_NE(r.err.find(userLink + " is a link to " + file), std::string::npos) << r.err;
  EXPECT_EQ(LinkTarget(userLink), file);

  std::string missing = dir / "no-such-folder/rw0";
  r = RunProgram(Rwsim(), {"--link=" + missing}, "", 20000);
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_NE(r.err.find(missing), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("No such file or directory"), std::string::npos) << r.err;
}

// A terminal opened as a tool opens it: raw, not our controlling terminal.
int OpenAsTool(const std::string &path) {
  int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
  termios tio;
  if (fd >= 0 && tcgetattr(fd, &tio) == 0) {
    cfmakeraw(&tio);
    tcsetattr(fd, TCSANOW, &tio);
  }
  return fd;
}

// Waits until the far end of `fd` has gone: poll() reports a hang-up or an
// error, and a read fails or finds the end.
bool FarEndGone(int fd, int timeoutMs) {
  pollfd pfd{fd, POLLIN, 0};
  if (poll(&pfd, 1, timeoutMs) != 1 || !(pfd.revents & (POLLHUP | POLLERR))) return false;
  char byte;
  return read(fd, &byte, 1) <= 0;
}

// Sends the plain R/W's open command and reads up to `want` bytes back.
Bytes OpenCommandAnswer(int fd, std::size_t want) {
  Bytes command = FrameOf({0x62, 0x21, 0x25, 0xF0});
  if (write(fd, command.data(), command.size()) != static_cast<ssize_t>(command.size())) return {};
  Bytes in;
  for (int waited = 0; in.size() < want && waited < 30000; waited += 10) {
    std::uint8_t buffer[64];
    ssize_t n = read(fd, buffer, sizeof buffer);
    if (n > 0) in.insert(in.end(), buffer, buffer + n);
    if (n <= 0) usleep(10000);
  }
  return in;
}

// Unplugged, the terminal fails for the tool that holds it open, as an
// unplugged adapter does, also without a link; the simulator goes on.
TEST(SimUnplugTest, TerminalFailsForTheToolThatHoldsIt) {
  ChildProcess sim(Rwsim(), {"--unplug=0.3,600", "--trace"});
  std::string terminal = sim.ReadLine(10000);
  ASSERT_FALSE(terminal.empty());
  int fd = OpenAsTool(terminal);
  ASSERT_GE(fd, 0);
  EXPECT_TRUE(FarEndGone(fd, 30000));
  std::uint8_t byte = 0;
  EXPECT_LT(write(fd, &byte, 1), 0) << "writes fail too";
  close(fd);
  sim.Signal(SIGTERM);
  EXPECT_EQ(sim.Wait(10000), 0);
  EXPECT_NE(sim.Errors().find("-- the terminal went away (unplug)\n"), std::string::npos);
}

// The link goes with the terminal and comes back leading to the new one,
// which answers; the path stays the simulator's meanwhile.
TEST(SimUnplugTest, LinkGoesAndComesBackWithTheTerminal) {
  ScratchDir dir;
  std::string link = dir / "rw0";
  ChildProcess sim(Rwsim(), {"--link=" + link, "--unplug=0.3,1.5"});
  std::string first = sim.ReadLine(10000);
  ASSERT_EQ(LinkTarget(link), first);
  int fd = OpenAsTool(link);
  ASSERT_GE(fd, 0);
  ASSERT_TRUE(FarEndGone(fd, 30000));
  close(fd);
  // The simulator removes the link just after it closes the terminal: the
  // hang-up can be seen before the link has gone.
  for (int waited = 0; waited < 10000 && fs::exists(fs::symlink_status(link)); waited += 10)
    usleep(10000);
  EXPECT_FALSE(fs::exists(fs::symlink_status(link))) << "the link goes with the terminal";
  EXPECT_TRUE(fs::exists(link + ".lock")) << "the path stays ours";
  std::string second = sim.ReadLine(30000);
  ASSERT_FALSE(second.empty()) << "the new terminal's path on a line of its own";
  EXPECT_EQ(LinkTarget(link), second);
  fd = OpenAsTool(link);
  ASSERT_GE(fd, 0);
  Bytes expected = AckAndResponse({0x63, 0x00});
  EXPECT_EQ(Hex(OpenCommandAnswer(fd, expected.size())), Hex(expected));
  close(fd);
  sim.Signal(SIGTERM);
  EXPECT_EQ(sim.Wait(10000), 0);
  EXPECT_FALSE(fs::exists(fs::symlink_status(link)));
  EXPECT_FALSE(fs::exists(link + ".lock"));
}

TEST(SimOptionsTest, HelpVersionAndBadOptions) {
  RunResult r = RunProgram(Rwsim(), {"--version"});
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(r.out, std::string("rwsim ") + PROJECT_VERSION_TEXT + "\n");
  RunResult help = RunProgram(Rwsim(), {"--help"});
  EXPECT_EQ(help.exitCode, 0);
  EXPECT_NE(help.out.find("--version"), std::string::npos);
  RunResult shortHelp = RunProgram(Rwsim(), {"-h"});
  EXPECT_EQ(shortHelp.exitCode, 0);
  EXPECT_EQ(shortHelp.out, help.out);
  EXPECT_EQ(shortHelp.err, "");

  // Each refusal names what was wrong and where to read more, and nothing
  // else is printed.
  const struct {
    std::vector<std::string> args;
    std::string message;
  } bad[] = {
      {{"-x"}, "unknown option: -x"},
      {{"-xh"}, "unknown option: -x"},
      {{"--frob"}, "unknown option: --frob"},
      {{"--reader"}, "option --reader needs a value"},
      {{"--reader=odd"}, "unknown reader kind: odd"},
      {{"stray"}, "unexpected argument: stray"},
      {{"--seed=-1"}, "--seed=-1: a whole number from 0 to 4294967295 is expected"},
      {{"--seed=12abc"}, "--seed=12abc: a whole number from 0 to 4294967295 is expected"},
      {{"--seed=4294967296"}, "--seed=4294967296: a whole number from 0 to 4294967295 is expected"},
      {{"--baud=0"}, "--baud=0: a whole number from 1 to 4294967295 is expected"},
      {{"--baud=-9600"}, "--baud=-9600: a whole number from 1 to 4294967295 is expected"},
      {{"--card=p=1e-1"}, "--card=p=1e-1: a probability from 0 to 1 such as 0.75 is expected"},
      {{"--card=p=nan"}, "--card=p=nan: a probability from 0 to 1 such as 0.75 is expected"},
      {{"--card=p=1.5"}, "--card=p=1.5: a probability from 0 to 1 such as 0.75 is expected"},
      {{"--card=often"},
       "--card=often: always, never, a pattern of o and . or p=PROBABILITY is expected"},
      {{"--drift=0.9,0.5"}, "--drift=0.9,0.5: P1,P2,SECONDS is expected"},
      {{"--drift=0.9,1.5,60"},
       "--drift=0.9,1.5,60: a probability from 0 to 1 such as 0.75 is expected"},
      {{"--drift=0.9,0.5,0"}, "--drift=0.9,0.5,0: SECONDS above 0 are expected"},
      {{"--flap=10,10"}, "--flap=10,10: FOR above 0 and below EVERY is expected"},
      {{"--flap=1m,5"}, "--flap=1m,5: a decimal number such as 12 or 0.75 is expected"},
      {{"--unplug=5"}, "--unplug=5: AT,FOR (seconds) is expected"},
      {{"--unplug=5,0"}, "--unplug=5,0: FOR above 0 is expected"},
      {{"--unplug=99999999,1"},
       "--unplug=99999999,1: seconds from 0 to 31622400 (366 days) are expected"},
      // An error met before --help still refuses the command line.
      {{"--frob", "--help"}, "unknown option: --frob"}};
  for (const auto &b : bad) {
    r = RunProgram(Rwsim(), b.args);
    EXPECT_EQ(r.exitCode, 2) << b.args[0];
    EXPECT_EQ(r.out, "") << b.args[0];
    EXPECT_EQ(r.err, "rwsim: " + b.message + "\nTry 'rwsim --help'.\n") << b.args[0];
  }
}

}  // namespace
