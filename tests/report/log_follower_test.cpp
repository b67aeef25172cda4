// The follower of a log that its tool is still writing: only complete lines
// are handed over, and the file it keeps open is not inherited by the
// readers started later.
#ifdef _WIN32
#include <io.h>
#include <windows.h>
#else
#include <fcntl.h>
#endif

#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include <gtest/gtest.h>

#include "platform/process.h"
#include "report/log_follower.h"
#include "tests/support/scratch_dir.h"

namespace {

TEST(LogFollowerTest, HandsOverCompleteLinesOnly) {
  ScratchDir dir;
  std::string path = dir / "grow.log";
  LogFollower follower(path);
  std::vector<std::string> seen;
  auto collect = [&](std::string_view line) { seen.emplace_back(line); };
  EXPECT_EQ(follower.ReadNew(collect), 0);  // not there yet
  std::FILE *f = std::fopen(path.c_str(), "wb");
  std::fputs("first\nsec", f);
  std::fflush(f);
  EXPECT_EQ(follower.ReadNew(collect), 1);
  std::fputs("ond\nthird", f);
  std::fflush(f);
  EXPECT_EQ(follower.ReadNew(collect), 1);
  std::fputs("\n", f);
  std::fclose(f);
  EXPECT_EQ(follower.ReadNew(collect), 1);
  EXPECT_EQ(seen, (std::vector<std::string>{"first", "second", "third"}));
}

// Each reader's log stays open in the station; a reader started later must
// not hold the earlier readers' logs open.
TEST(LogFollowerTest, FollowedLogsAreNotInherited) {
  ScratchDir dir;
  std::string path = dir / "events.jsonl";
  std::FILE *made = std::fopen(path.c_str(), "wb");
  ASSERT_NE(made, nullptr);
  std::fclose(made);
  std::FILE *file = platform::OpenNotInherited(path);
  ASSERT_NE(file, nullptr);
#ifdef _WIN32
  DWORD flags = 0;
  ASSERT_TRUE(
      GetHandleInformation(reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file))), &flags));
  EXPECT_EQ(flags & HANDLE_FLAG_INHERIT, 0u);
#else
  EXPECT_NE(fcntl(fileno(file), F_GETFD) & FD_CLOEXEC, 0);
#endif
  std::fclose(file);
  EXPECT_EQ(platform::OpenNotInherited(dir / "missing"), nullptr);
}

}  // namespace
