// Replacing a file whole: the order of the steps, the same on every
// platform; the steps themselves are the backends' (files_native.h).
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "platform/files.h"
#include "platform/files_native.h"

namespace platform {
namespace {

std::string Reason() { return std::strerror(errno); }

// Writes `file` and closes it; false with the reason of the first failure.
bool WriteAndClose(std::FILE *file, const std::string &text, bool toDisk, std::string *reason) {
  bool written = std::fwrite(text.data(), 1, text.size(), file) == text.size() &&
                 std::fflush(file) == 0 && (!toDisk || native::FlushToDisk(file));
  *reason = Reason();
  if (std::fclose(file) != 0 && written) {
    written = false;
    *reason = Reason();
  }
  return written;
}

bool WriteDirectly(const std::string &path, const std::string &text, std::string *error) {
  std::FILE *file = std::fopen(path.c_str(), "wb");
  if (!file) {
    *error = "cannot create " + path + ": " + Reason();
    return false;
  }
  std::string reason;
  if (WriteAndClose(file, text, false, &reason)) return true;
  *error = "cannot write " + path + ": " + reason;
  return false;
}

}  // namespace

bool ReplaceFileWith(const std::string &path, const std::string &text, std::string *error) {
  const std::string target = native::ReplacementTarget(path);
  if (!native::IsRegularOrAbsent(target)) return WriteDirectly(target, text, error);
  std::string temporary;
  std::FILE *file = native::CreateBeside(target, &temporary);
  if (!file) {
    *error = "cannot create " + path + ": " + Reason();
    return false;
  }
  std::string reason;
  if (WriteAndClose(file, text, true, &reason) && native::MoveOver(temporary, target, &reason)) {
    return true;
  }
  std::remove(temporary.c_str());
  *error = "cannot write " + path + ": " + reason;
  return false;
}

}  // namespace platform
