#include "report/group_labels.h"

#include <map>

namespace {

// The folders of a path, nearest last: "a/./b\c.txt" gives a, b.
std::vector<std::string> FoldersOf(const std::string &path) {
  std::vector<std::string> folders;
  std::size_t start = 0;
  for (std::size_t end; (end = path.find_first_of("/\\", start)) != std::string::npos;
       start = end + 1) {
    std::string part = path.substr(start, end - start);
    if (!part.empty() && part != ".") folders.push_back(part);
  }
  return folders;
}

// The label of `path` with its `depth` nearest folders, or the path itself
// when it has fewer.
std::string LabelAtDepth(const std::string &path, const std::vector<std::string> &folders,
                         std::size_t depth) {
  if (depth > folders.size()) return path;
  std::string label = FileLabel(path);
  for (std::size_t i = 0; i < depth; ++i) label = folders[folders.size() - 1 - i] + "/" + label;
  return label;
}

}  // namespace

std::string FileLabel(const std::string &path) {
  std::size_t slash = path.find_last_of("/\\");
  std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  std::size_t dot = name.rfind('.');
  if (dot != std::string::npos && dot > 0) name.erase(dot);
  return name;
}

std::vector<std::string> UniqueFileLabels(const std::vector<std::string> &paths) {
  std::vector<std::vector<std::string>> folders;
  for (const std::string &path : paths) folders.push_back(FoldersOf(path));
  std::vector<std::size_t> depth(paths.size(), 0);
  std::vector<std::string> labels(paths.size());
  // Each round gives the paths that still share a label one folder more;
  // a path out of folders takes its full name, so the rounds end.
  for (bool shared = true; shared;) {
    std::map<std::string, std::vector<std::size_t>> byLabel;
    for (std::size_t i = 0; i < paths.size(); ++i) {
      labels[i] = LabelAtDepth(paths[i], folders[i], depth[i]);
      byLabel[labels[i]].push_back(i);
    }
    shared = false;
    for (const auto &entry : byLabel) {
      if (entry.second.size() < 2) continue;
      for (std::size_t i : entry.second) {
        if (depth[i] <= folders[i].size()) {
          ++depth[i];
          shared = true;
        }
      }
    }
  }
  return labels;
}
