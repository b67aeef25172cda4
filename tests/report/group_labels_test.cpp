// Labels of groups named by file: unique, and as short as telling them
// apart allows.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "report/group_labels.h"

namespace {

TEST(GroupLabelsTest, FoldersAreAddedOnlyWhereNamesMeet) {
  EXPECT_EQ(UniqueFileLabels({"lab/unit1.txt", "lab/unit2.txt", "unit-b.tar.csv"}),
            (std::vector<std::string>{"unit1", "unit2", "unit-b.tar"}));
  EXPECT_EQ(UniqueFileLabels({"soak/monday/unit1.txt", "soak/tuesday/unit1.txt", "x/unit2.txt"}),
            (std::vector<std::string>{"monday/unit1", "tuesday/unit1", "unit2"}));
  // Folders are added until they differ, on Windows' separators too.
  EXPECT_EQ(UniqueFileLabels({"a\\day\\unit1.txt", "b/day/unit1.txt", "./unit1.csv"}),
            (std::vector<std::string>{"a/day/unit1", "b/day/unit1", "./unit1.csv"}));
  // The same name with another extension in the same folder: as given.
  EXPECT_EQ(UniqueFileLabels({"r/unit1.txt", "r/unit1.csv"}),
            (std::vector<std::string>{"r/unit1.txt", "r/unit1.csv"}));
  EXPECT_EQ(FileLabel("/x/.hidden"), ".hidden");
  EXPECT_EQ(FileLabel("C:\\lab\\unit3.log"), "unit3");
}

}  // namespace
