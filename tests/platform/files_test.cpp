// Files known by their identity and replaced whole, on every platform (the
// Windows backend under Wine); and the Windows backends' error texts.
#ifdef _WIN32
#include <windows.h>
#else
#include <unistd.h>
#endif

#include <cstdio>
#include <filesystem>
#include <string>

#include <gtest/gtest.h>

#include "platform/files.h"
#include "tests/support/scratch_dir.h"
#ifdef _WIN32
#include "platform/win32_error.h"
#endif

namespace {

void Write(const std::string &path, const std::string &text) {
  std::FILE *f = std::fopen(path.c_str(), "wb");
  ASSERT_NE(f, nullptr) << path;
  std::fwrite(text.data(), 1, text.size(), f);
  std::fclose(f);
}

std::string Read(const std::string &path) {
  std::string text;
  std::FILE *f = std::fopen(path.c_str(), "rb");
  if (!f) return "(missing)";
  char buffer[256];
  for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, f)) > 0;) text.append(buffer, n);
  std::fclose(f);
  return text;
}

int FilesIn(const std::string &folder) {
  int count = 0;
  for (const auto &entry : std::filesystem::directory_iterator(folder)) count += !!entry.exists();
  return count;
}

TEST(FilesTest, TwoNamesOfOneFileShareItsIdentity) {
  ScratchDir dir;
  Write(dir / "a.csv", "a");
  Write(dir / "b.csv", "b");
  std::filesystem::create_directory(dir / "sub");
  platform::FileIdentity a, again, b, missing;
  ASSERT_TRUE(platform::IdentifyFile(dir / "a.csv", &a));
  ASSERT_TRUE(platform::IdentifyFile(dir / "sub/../a.csv", &again));
  ASSERT_TRUE(platform::IdentifyFile(dir / "b.csv", &b));
  EXPECT_TRUE(a == again);
  EXPECT_FALSE(a == b);
  EXPECT_TRUE(a < b || b < a);
  EXPECT_FALSE(platform::IdentifyFile(dir / "none.csv", &missing));
}

TEST(FilesTest, AFileIsReplacedWholeWithNothingLeftBeside) {
  ScratchDir dir;
  std::string page = dir / "page.html";
  std::string error;
  ASSERT_TRUE(platform::ReplaceFileWith(page, "first", &error)) << error;
  EXPECT_EQ(Read(page), "first");
  ASSERT_TRUE(platform::ReplaceFileWith(page, "second, longer", &error)) << error;
  ASSERT_TRUE(platform::ReplaceFileWith(page, "third", &error)) << error;
  EXPECT_EQ(Read(page), "third");
  EXPECT_EQ(FilesIn(dir.Path()), 1);
}

TEST(FilesTest, AFailedReplacementSaysWhyAndMakesNothing) {
  ScratchDir dir;
  std::string page = dir / "missing/page.html";
  std::string error;
  EXPECT_FALSE(platform::ReplaceFileWith(page, "text", &error));
  EXPECT_EQ(error.rfind("cannot create " + page + ": ", 0), 0u) << error;
  EXPECT_GT(error.size(), ("cannot create " + page + ": ").size());
  EXPECT_EQ(FilesIn(dir.Path()), 0);
}

#ifndef _WIN32
TEST(FilesTest, ALinkStaysAndTheFileItNamesIsReplaced) {
  ScratchDir dir;
  Write(dir / "page.html", "old");
  ASSERT_EQ(symlink((dir / "page.html").c_str(), (dir / "latest.html").c_str()), 0);
  std::string error;
  ASSERT_TRUE(platform::ReplaceFileWith(dir / "latest.html", "new", &error)) << error;
  EXPECT_TRUE(std::filesystem::is_symlink(dir / "latest.html"));
  EXPECT_EQ(Read(dir / "page.html"), "new");
  EXPECT_EQ(FilesIn(dir.Path()), 2);
}
#else
// The system's text without its line end and full stop, as on POSIX; a code
// without text is named by its number.
TEST(FilesTest, SystemMessagesAreTrimmedAlike) {
  std::string text = platform::SystemMessage(ERROR_FILE_NOT_FOUND);
  ASSERT_FALSE(text.empty());
  EXPECT_EQ(text.find_first_of("\r\n"), std::string::npos) << text;
  EXPECT_NE(text.back(), '.') << text;
  EXPECT_NE(text.back(), ' ') << text;
  EXPECT_EQ(platform::SystemMessage(0x2FFFFFFF), "error 805306367");
}
#endif

}  // namespace
