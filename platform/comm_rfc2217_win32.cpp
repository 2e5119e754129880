// Serial ports served over the network have no Windows backend yet: the name is still
// recognised, so that the user hears why it cannot be opened instead of "not found".
#include <atomic>

#include "platform/comm_rfc2217.h"

namespace platform {

namespace {

std::atomic<std::uint32_t> gAnswerTimeoutMs{3000};

constexpr const char* kNotHere = ": serial ports over the network are not supported on Windows yet";

DWORD OpenRfc2217(const std::string& address, std::unique_ptr<CommPort>& port) {
  port.reset();
  std::string host;
  std::uint16_t number = 0;
  const std::string name = kRfc2217Prefix + address;
  if (!ParseRfc2217Address(address, host, number)) {
    ReportCommPortProblem(name, {name + ": " + Rfc2217AddressProblem(address)}, true);
    return ERROR_INVALID_NAME;
  }
  ReportCommPortProblem(name, {name + kNotHere}, true);
  return ERROR_NOT_SUPPORTED;
}

[[maybe_unused]] const bool gRegistered = [] {
  RegisterCommBackend("rfc2217", OpenRfc2217);
  return true;
}();

}  // namespace

std::uint32_t SetRfc2217AnswerTimeoutMs(std::uint32_t ms) {
  return gAnswerTimeoutMs.exchange(ms);
}

}  // namespace platform
