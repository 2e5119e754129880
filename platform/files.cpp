// Path pieces, the same on every system but for the separator the system's half names
// (PathSeparator in posix/files.cpp, win32/files.cpp).
#include "platform/files.h"

namespace platform {

namespace {

bool IsSeparator(char c) {
  return c == '/' || c == '\\';
}

// Where '\' is the separator, "C:" also ends a directory part.
bool HasDriveLetters() {
  return PathSeparator()[0] == '\\';
}

}  // namespace

std::string ToNativePath(const std::string& path) {
  const char native = PathSeparator()[0];
  std::string result = path;
  for (char& c : result) {
    if (IsSeparator(c)) c = native;
  }
  return result;
}

void SplitPath(const std::string& path, std::string* dir, std::string* fname, std::string* ext) {
  const bool drives = HasDriveLetters();
  std::size_t nameStart = 0;
  for (std::size_t i = path.size(); i > 0; --i) {
    if (IsSeparator(path[i - 1]) || (drives && i == 2 && path[1] == ':')) {
      nameStart = i;
      break;
    }
  }
  std::string base = path.substr(nameStart);
  std::size_t dot = base.rfind('.');
  if (dot == std::string::npos) dot = base.size();
  if (dir) *dir = path.substr(0, nameStart);
  if (fname) *fname = base.substr(0, dot);
  if (ext) *ext = base.substr(dot);
}

}  // namespace platform
