// The address part of "rfc2217://HOST:PORT", the same on every system.
#include "platform/comm_rfc2217.h"

namespace platform {

bool ParseRfc2217Address(const std::string& text, std::string& host, std::uint16_t& port) {
  std::string h;
  std::string rest;
  if (!text.empty() && text[0] == '[') {
    const auto close = text.find(']');
    if (close == std::string::npos) return false;
    h = text.substr(1, close - 1);
    rest = text.substr(close + 1);
  } else {
    const auto colon = text.rfind(':');
    if (colon == std::string::npos) return false;
    h = text.substr(0, colon);
    rest = text.substr(colon);
    if (h.find(':') != std::string::npos) return false;  // IPv6 needs brackets
  }
  if (h.empty() || rest.size() < 2 || rest[0] != ':' || rest.size() > 6) return false;
  std::uint32_t value = 0;
  for (std::size_t i = 1; i < rest.size(); ++i) {
    if (rest[i] < '0' || rest[i] > '9') return false;
    value = value * 10 + static_cast<std::uint32_t>(rest[i] - '0');
  }
  if (value == 0 || value > 65535) return false;
  host = h;
  port = static_cast<std::uint16_t>(value);
  return true;
}

}  // namespace platform
