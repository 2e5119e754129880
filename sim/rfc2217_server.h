// Serves a simulated device over the network as an RFC 2217 access server would serve a
// real serial port: telnet in binary mode with the COM-PORT-OPTION. Unlike a
// pseudo-terminal this carries breaks both ways: the boot ROM's breaks go to the client
// as line-state notifications (break detect) and the client's BREAK ON / OFF reach the
// device. Line settings follow the client's SET-BAUDRATE, -DATASIZE, -PARITY and
// -STOPSIZE; a mismatch with the device garbles bytes as on a real line.
//
// The telnet handling here is the device side's own, written apart from any client's.
#pragma once
#include <atomic>
#include <cstdint>
#include <functional>
#include <string>

#include "sim/device.h"

namespace kv70sim {

class Rfc2217Server {
 public:
  // Listens on "[HOST:]PORT" (HOST defaults to 127.0.0.1; PORT 0 picks a free one).
  // Throws std::invalid_argument for a malformed address, std::system_error when the
  // socket cannot be bound.
  explicit Rfc2217Server(const std::string& address);
  ~Rfc2217Server();
  Rfc2217Server(const Rfc2217Server&) = delete;
  Rfc2217Server& operator=(const Rfc2217Server&) = delete;

  // "HOST:PORT" as bound.
  const std::string& Address() const { return address_; }

  // Serves `device` to one client at a time until `stop` is set; each new client restarts
  // the device (flash and record stay), so that the boot ROM signals to it. The device's time line
  // runs `speedup` times faster than the system clock (1: real line speed; more makes a
  // long transfer short for a test, with every wait of the device shortened alike).
  // `onPcBreak`, when set, hears of every break the client sent, with its length in
  // device milliseconds.
  void Serve(Device& device, const std::atomic<bool>& stop, unsigned speedup = 1,
             const std::function<void(std::uint64_t ms)>& onPcBreak = {});

 private:
  int listen_ = -1;
  std::string address_;
};

}  // namespace kv70sim
