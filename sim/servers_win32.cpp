// kv70sim.exe serves no line of its own: Windows has no pseudo-terminals, and the network
// server waits for a socket service of the platform's. On Windows the simulator runs
// in-process (velmora --device sim); both servers say so when asked for.
#include <system_error>

#include "sim/pty_server.h"
#include "sim/rfc2217_server.h"

namespace kv70sim {

namespace {

[[noreturn]] void Unavailable(const char* what) {
  throw std::system_error(std::make_error_code(std::errc::function_not_supported),
                          std::string(what) +
                              " is not available on Windows; there the simulator runs "
                              "in-process: velmora --device sim");
}

}  // namespace

PtyServer::PtyServer() {
  Unavailable("--pty");
}
PtyServer::~PtyServer() = default;
void PtyServer::Serve(Device&, const std::atomic<bool>&, const std::function<void()>&, unsigned) {}

Rfc2217Server::Rfc2217Server(const std::string&) {
  Unavailable("--rfc2217");
}
Rfc2217Server::~Rfc2217Server() = default;
void Rfc2217Server::Serve(Device&, const std::atomic<bool>&, unsigned,
                          const std::function<void(std::uint64_t)>&) {}

}  // namespace kv70sim
