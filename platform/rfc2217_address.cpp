// The address part of "rfc2217://HOST:PORT", the same on every system.
#include "platform/comm_rfc2217.h"

namespace platform {

namespace {

constexpr const char* kExpected = " (expected rfc2217://HOST:PORT)";

bool AllDigits(const std::string& text) {
  if (text.empty()) return false;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
  }
  return true;
}

}  // namespace

std::string Rfc2217AddressProblem(const std::string& text) {
  std::string host;
  std::string portText;
  if (!text.empty() && text[0] == '[') {
    const auto close = text.find(']');
    if (close == std::string::npos)
      return "no closing ']' after the IPv6 address" + std::string(kExpected);
    host = text.substr(1, close - 1);
    const std::string rest = text.substr(close + 1);
    if (rest.empty() || rest[0] != ':') return "no port after the address" + std::string(kExpected);
    portText = rest.substr(1);
  } else {
    const auto colon = text.rfind(':');
    if (colon == std::string::npos) return "no port after the host" + std::string(kExpected);
    host = text.substr(0, colon);
    portText = text.substr(colon + 1);
    if (host.find(':') != std::string::npos)
      return "an IPv6 address needs brackets: rfc2217://[ADDRESS]:PORT";
  }
  if (host.empty()) return "no host before the port" + std::string(kExpected);
  if (portText.empty()) return "no port after \"" + host + ":\"" + std::string(kExpected);
  if (!AllDigits(portText)) return "the port \"" + portText + "\" is not a number (1 to 65535)";
  if (portText.size() > 5 || std::stoul(portText) == 0 || std::stoul(portText) > 65535)
    return "the port " + portText + " is outside 1 to 65535";
  return {};
}

std::string Rfc2217OpenFailure(const std::string& name) {
  return NetworkPortAddress(name).empty() ? std::string() : LastCommPortProblem(name).text;
}

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
