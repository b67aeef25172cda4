#include "app/rwreport/file_io.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace {

std::string Reason() { return std::strerror(errno); }

}  // namespace

bool WriteStandardOutput(const std::string &text, std::string *error) {
  if (std::fwrite(text.data(), 1, text.size(), stdout) == text.size()) return true;
  *error = "cannot write the standard output: " + Reason();
  return false;
}

bool CloseStandardOutput(std::string *error) {
  bool ok = std::fflush(stdout) == 0 && std::ferror(stdout) == 0;
  std::string reason = Reason();
  if (std::fclose(stdout) != 0 && ok) {
    ok = false;
    reason = Reason();
  }
  if (!ok) *error = "cannot write the standard output: " + reason;
  return ok;
}
