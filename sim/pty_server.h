// Serves a simulated device on a pseudo-terminal in real time, so that a program using
// a real serial port (the termios backend) can talk to it. The device follows the line
// settings the PC gives the terminal. A pseudo-terminal carries no break: the boot ROM's
// breaks cannot reach the PC and the PC's breaks never reach the device.
#pragma once
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "sim/device.h"

namespace kv70sim {

class PtyServer {
 public:
  // Opens the pseudo-terminal; throws std::system_error when it cannot.
  PtyServer();
  ~PtyServer();
  PtyServer(const PtyServer&) = delete;
  PtyServer& operator=(const PtyServer&) = delete;

  // The path the PC opens.
  const std::string& SlavePath() const { return slavePath_; }

  // Serves `device` until `stop` is set. The device's time line must be the system
  // clock's (microseconds x 1000); it runs `speedup` times faster from the start of the
  // call. `onBreakLost` is called for every break the device sends, which the terminal
  // cannot carry.
  void Serve(Device& device, const std::atomic<bool>& stop,
             const std::function<void()>& onBreakLost, unsigned speedup = 1);

 private:
  int master_ = -1;
  int slave_ = -1;  // held open so that the line stays up between the PC's sessions
  std::string slavePath_;
};

}  // namespace kv70sim
