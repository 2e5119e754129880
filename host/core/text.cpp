#include "host/core/text.h"

#include <cctype>
#include <cstdio>

namespace velmora {

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

std::string Trim(const std::string& text) {
  const size_t first = text.find_first_not_of(" \t");
  if (first == std::string::npos) return {};
  const size_t last = text.find_last_not_of(" \t");
  return text.substr(first, last - first + 1);
}

std::string StripMnemonic(const std::string& text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '&') {
      if (i + 1 < text.size() && text[i + 1] == '&') {
        out += '&';
        ++i;
      }
      continue;
    }
    out += text[i];
  }
  return out;
}

int ClampPercent(long position) {
  if (position < 0) return 0;
  if (position > 100) return 100;
  return static_cast<int>(position);
}

std::string FormatElapsed(std::uint64_t elapsedMs) {
  const std::uint64_t seconds = elapsedMs / 1000;
  char text[32];
  if (seconds >= 3600) {
    std::snprintf(text, sizeof text, "%llu:%02llu:%02llu",
                  static_cast<unsigned long long>(seconds / 3600),
                  static_cast<unsigned long long>(seconds / 60 % 60),
                  static_cast<unsigned long long>(seconds % 60));
  } else {
    std::snprintf(text, sizeof text, "%llu:%02llu", static_cast<unsigned long long>(seconds / 60),
                  static_cast<unsigned long long>(seconds % 60));
  }
  return text;
}

std::string RepeatLine(const std::string& status, unsigned long repeats) {
  std::string last = status;
  while (!last.empty() && (last.back() == '\n' || last.back() == '\r')) last.pop_back();
  if (const std::size_t end = last.find_last_of('\n'); end != std::string::npos)
    last.erase(0, end + 1);
  return last + " (again, " + std::to_string(repeats) + (repeats == 1 ? " time)" : " times)");
}

}  // namespace velmora
