// The labels of groups named by their files: each file's name without
// folder and extension ("unit1" for monday/unit1.txt), and where files
// share that name, as many of their folders as tell them apart
// ("monday/unit1", "tuesday/unit1"), so that no two groups read alike.
#pragma once

#include <string>
#include <vector>

// A file's name without folder and extension.
std::string FileLabel(const std::string &path);

// One label per path, in the same order, each different from the others:
// the name without extension, with the nearest folders before it that tell
// it apart from the paths that share it; a path whose folders do not (the
// same name with another extension) is labelled as it was given. The paths
// must differ from each other.
std::vector<std::string> UniqueFileLabels(const std::vector<std::string> &paths);
