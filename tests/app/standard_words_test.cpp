// --help, -h and --version of rwsim, rwreport and rwstation, run as
// programs: where an option word may stand, the first of them ends the
// command line with its text on standard output and exit status 0; an error
// met before it still refuses the command line, and in a value's place it is
// a value.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "project_version.h"
#include "tests/support/process.h"

namespace {

struct Program {
  std::string name;
  std::vector<std::string> goodOptions;  // taken before the word
  std::vector<std::string> badOption;    // refused before the word
  std::vector<std::string> asValue;      // the word in a value's place: refused
};

const Program kPrograms[] = {
    {"rwsim", {"--trace", "--seed=3"}, {"--frob"}, {"--des", "--help"}},
    {"rwreport", {"--by", "file", "--skip-bad"}, {"--frob"}, {"--by", "--help", "x.csv"}},
    {"rwstation", {"--stop-wait", "5", "plan"}, {"--frob"}, {"--require", "--help"}},
};

std::vector<std::string> With(std::vector<std::string> words, const std::string &last) {
  words.push_back(last);
  return words;
}

TEST(StandardWordsTest, HelpAndVersionAlikeInEveryProgram) {
  for (const Program &p : kPrograms) {
    std::string path = BinDir() + "/" + p.name;
    RunResult help = RunProgram(path, {"--help"});
    EXPECT_EQ(help.exitCode, 0) << p.name;
    EXPECT_EQ(help.out.rfind("Usage: " + p.name + " ", 0), 0u) << p.name << help.out;
    EXPECT_EQ(help.err, "") << p.name;
    std::string version = p.name + " " + PROJECT_VERSION_TEXT + "\n";
    for (const std::vector<std::string> &words :
         {std::vector<std::string>{"-h"}, With(p.goodOptions, "--help"),
          With(p.goodOptions, "-h")}) {
      RunResult r = RunProgram(path, words);
      EXPECT_EQ(r.exitCode, 0) << p.name << " " << words.back();
      EXPECT_EQ(r.out, help.out) << p.name << " " << words.back();
    }
    for (const std::vector<std::string> &words : {std::vector<std::string>{"--version"},
                                                  With(p.goodOptions, "--version"),
                                                  {"--version", "--frob"}}) {
      RunResult r = RunProgram(path, words);
      EXPECT_EQ(r.exitCode, 0) << p.name;
      EXPECT_EQ(r.out, version) << p.name;
      EXPECT_EQ(r.err, "") << p.name;
    }
    for (const std::vector<std::string> &words :
         {With(p.badOption, "--help"), With(p.badOption, "--version"), p.asValue,
          std::vector<std::string>{"--help=x"}}) {
      RunResult r = RunProgram(path, words);
      EXPECT_EQ(r.exitCode, 2) << p.name << " " << words[0];
      EXPECT_EQ(r.out, "") << p.name << " " << words[0];
      EXPECT_NE(r.err, "") << p.name << " " << words[0];
    }
  }
}

}  // namespace
