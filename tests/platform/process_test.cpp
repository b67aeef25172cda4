// The process backend's guards for a program that runs other programs and
// writes into a folder it may share: programs are never taken from the
// working folder, names are never written through links, a new folder is
// never shared, two names of one device are one device, a command line that
// the system would refuse is known before it is tried.
#ifdef _WIN32
#include <windows.h>
#else
#include <signal.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>
#endif

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/process.h"
#include "tests/support/scratch_dir.h"
#include "tests/support/text_files.h"

namespace {

void WriteText(const std::string &path, const std::string &text) {
  std::FILE *file = std::fopen(path.c_str(), "wb");
  ASSERT_NE(file, nullptr) << path;
  std::fputs(text.c_str(), file);
  std::fclose(file);
}

// Sets an environment variable for the test's time, and restores it.
class ScopedVariable {
 public:
  ScopedVariable(const char *name, const char *value) : name_(name) {
    const char *old = std::getenv(name);
    had_ = old != nullptr;
    if (had_) old_ = old;
    Set(value);
  }
  ~ScopedVariable() { Set(had_ ? old_.c_str() : nullptr); }

 private:
  void Set(const char *value) {
#ifdef _WIN32
    _putenv_s(name_.c_str(), value ? value : "");
#else
    if (value) {
      setenv(name_.c_str(), value, 1);
    } else {
      unsetenv(name_.c_str());
    }
#endif
  }
  std::string name_, old_;
  bool had_ = false;
};

// A program of that name in the working folder, in an empty PATH element,
// in "." or a relative element of the PATH is never found; beside us, and
// in an absolute folder of the PATH, it is.
TEST(ProcessFindTest, NeverFromTheWorkingFolder) {
  ScratchDir dir;
  std::string name = platform::ExecutableName("planted-tool");
  std::string planted = dir / name;
  WriteText(planted, "#!/bin/sh\nexit 0\n");
#ifndef _WIN32
  ASSERT_EQ(chmod(planted.c_str(), 0700), 0);
  char here[4096];
  ASSERT_NE(getcwd(here, sizeof here), nullptr);
  ASSERT_EQ(chdir(dir.Path().c_str()), 0);
  for (const char *path : {"", ".", ":", "/nonexistent::/also-not", "./", "sub/.."}) {
    ScopedVariable variable("PATH", path);
    EXPECT_EQ(platform::FindProgram(name, ""), "") << "PATH=" << path;
  }
  {
    ScopedVariable variable("PATH", (std::string("/nonexistent:") + dir.Path()).c_str());
    EXPECT_EQ(platform::FindProgram(name, ""), dir.Path() + "/" + name);
  }
  ASSERT_EQ(chdir(here), 0);
#else
  {
    ScopedVariable variable("PATH", (std::string(".;;C:\\nonexistent;") + dir.Path()).c_str());
    EXPECT_EQ(platform::FindProgram(name, ""), dir.Path() + "\\" + name);
  }
#endif
  // The folder given (ours) comes first.
  EXPECT_EQ(platform::FindProgram(name, dir.Path()), dir.Path() + platform::PathSeparator() + name);
  EXPECT_EQ(platform::FindProgram("no-such-program-anywhere", dir.Path()), "");
}

#ifndef _WIN32
// Without a PATH the system's default path is searched, as a shell does.
TEST(ProcessFindTest, WithoutAPathTheSystemsDefaultPath) {
  ScopedVariable variable("PATH", nullptr);
  std::string shell = platform::FindProgram("sh", "");
  EXPECT_TRUE(shell == "/bin/sh" || shell == "/usr/bin/sh") << shell;
}
#endif

TEST(ProcessFilesTest, NewFilesAndFoldersAreNeverShared) {
  ScratchDir dir;
  std::string error;
  std::string file = dir / "made.txt";
  EXPECT_TRUE(platform::CreateNewFile(file, &error)) << error;
  EXPECT_TRUE(platform::IsPlainFile(file));
  EXPECT_FALSE(platform::CreateNewFile(file, &error));
  EXPECT_EQ(error.rfind(file + ": ", 0), 0u) << error;
  std::string folder = dir / "session";
  EXPECT_EQ(platform::MakeNewFolder(folder, &error), platform::NewFolder::kMade);
  EXPECT_EQ(platform::MakeNewFolder(folder, &error), platform::NewFolder::kTaken);
  EXPECT_EQ(platform::MakeNewFolder(file, &error), platform::NewFolder::kTaken);
  EXPECT_EQ(platform::MakeNewFolder(dir / "missing/deeper", &error), platform::NewFolder::kFailed);
  EXPECT_NE(error.find("missing"), std::string::npos) << error;
  // An existing folder is fine where one is given.
  EXPECT_TRUE(platform::MakeFolder(folder, &error)) << error;
  EXPECT_FALSE(platform::IsPlainFile(folder));
}

#ifndef _WIN32
// A link in a shared folder, dangling or not, is a name taken: nothing is
// created through it, nor is it a file of ours.
TEST(ProcessFilesTest, LinksAreNamesTakenAndNeverWrittenThrough) {
  ScratchDir dir;
  std::string target = dir / "target.txt";
  std::string dangling = dir / "a.log";
  ASSERT_EQ(symlink(target.c_str(), dangling.c_str()), 0);
  EXPECT_TRUE(platform::PathExists(dangling));
  EXPECT_FALSE(platform::DevicePresent(dangling));
  std::string error;
  EXPECT_FALSE(platform::CreateNewFile(dangling, &error));
  EXPECT_EQ(ReadFile(target), "<missing>");
  EXPECT_EQ(platform::MakeNewFolder(dangling, &error), platform::NewFolder::kTaken);
  WriteText(target, "theirs");
  EXPECT_TRUE(platform::DevicePresent(dangling));
  EXPECT_FALSE(platform::IsPlainFile(dangling));
  EXPECT_TRUE(platform::IsPlainFile(target));
  // A child's output goes to a file of ours only, never through a link.
  platform::Child child;
  EXPECT_FALSE(
      platform::StartChild("/bin/sh", {"-c", "echo written"}, dangling, false, &child, &error));
  EXPECT_EQ(error.rfind("/bin/sh: " + dangling + ": ", 0), 0u) << error;
  EXPECT_EQ(ReadFile(target), "theirs");
}

void RunToEnd(platform::Child *child) {
  for (int i = 0; i < 60000 && !platform::ChildEnded(child); ++i) platform::Pause(5);
}

// Every start of a tool appends to the same console file; a start that
// fails names the program.
TEST(ProcessChildTest, OutputIsAppendedAndFailuresNameTheProgram) {
  ScratchDir dir;
  std::string out = dir / "tool.out";
  std::string error;
  ASSERT_TRUE(platform::CreateNewFile(out, &error)) << error;
  for (const char *word : {"first", "second"}) {
    platform::Child child;
    ASSERT_TRUE(platform::StartChild("/bin/sh", {"-c", std::string("echo ") + word + "; exit 3"},
                                     out, true, &child, &error))
        << error;
    RunToEnd(&child);
    EXPECT_EQ(child.exitStatus, 3);
  }
  EXPECT_EQ(ReadFile(out), "first\nsecond\n");
  platform::Child child;
  std::string missing = dir / "no-such-program";
  EXPECT_FALSE(platform::StartChild(missing, {}, out, true, &child, &error));
  EXPECT_EQ(error, missing + ": No such file or directory");
  EXPECT_FALSE(platform::StartChild("/bin/sh", {}, dir / "not-made.out", true, &child, &error));
  EXPECT_EQ(error, "/bin/sh: " + (dir / "not-made.out") + ": No such file or directory");
}

// We ignore SIGPIPE (a broken pipe is an error of a write, not an end); a
// program we start gets its default again, as from a shell.
TEST(ProcessChildTest, AChildGetsTheDefaultSigpipe) {
  struct sigaction ignore {
  }, old{};
  ignore.sa_handler = SIG_IGN;
  sigaction(SIGPIPE, &ignore, &old);
  platform::Child child;
  std::string error;
  bool started =
      platform::StartChild("/bin/sh", {"-c", "kill -PIPE $$; exit 3"}, "", false, &child, &error);
  sigaction(SIGPIPE, &old, nullptr);
  ASSERT_TRUE(started) << error;
  RunToEnd(&child);
  EXPECT_EQ(child.exitStatus, 128 + SIGPIPE);
}

// Two names of one device are one device: a link, and a second device node
// of the same number (what a bind mount shows too), unlike the names.
TEST(ProcessDeviceTest, TwoNamesOfOneDeviceShareAKey) {
  ScratchDir dir;
  std::string named = dir / "null-link";
  ASSERT_EQ(symlink("/dev/null", named.c_str()), 0);
  EXPECT_EQ(platform::DeviceKey(named), platform::DeviceKey("/dev/null"));
  EXPECT_NE(platform::DeviceKey("/dev/zero"), platform::DeviceKey("/dev/null"));
  EXPECT_NE(platform::DeviceKey(dir / "gone-1"), platform::DeviceKey(dir / "gone-2"));
  EXPECT_EQ(platform::DeviceKey(dir / "gone-1"), platform::DeviceKey(dir / "gone-1"));
  std::string file = dir / "file";
  std::string hard = dir / "hard";
  WriteText(file, "x");
  ASSERT_EQ(link(file.c_str(), hard.c_str()), 0);
  EXPECT_EQ(platform::DeviceKey(file), platform::DeviceKey(hard));
  struct stat null {};
  ASSERT_EQ(stat("/dev/null", &null), 0);
  std::string twin = dir / "null-twin";
  if (mknod(twin.c_str(), S_IFCHR | 0600, null.st_rdev) != 0)
    GTEST_SKIP() << "a second device node needs root";
  EXPECT_EQ(platform::DeviceKey(twin), platform::DeviceKey("/dev/null"));
}
#endif

TEST(ProcessChildTest, CommandLinesTheSystemWouldRefuseAreKnownBeforehand) {
  std::string why;
  EXPECT_TRUE(platform::ArgumentsFit({"brimlet", "c", "/dev/ttyUSB0", "t", "1000"}, &why)) << why;
  // More than any system takes in one command line.
  std::vector<std::string> many(40000, std::string(100, 'd'));
  many.insert(many.begin(), "brimlet");
  EXPECT_FALSE(platform::ArgumentsFit(many, &why));
  EXPECT_NE(why.find("(at most "), std::string::npos) << why;
#ifdef __linux__
  // Linux refuses any one argument of 128 KiB or more, whatever the limit
  // of the whole list.
  EXPECT_FALSE(platform::ArgumentsFit({"brimlet", "c", std::string(131072, 'x')}, &why));
  EXPECT_EQ(why, "an argument of 131072 characters (at most 131071)");
#endif
}

}  // namespace
