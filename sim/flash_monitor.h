// The flash monitor the loader uploads and starts: it takes the requests of
// monitor_frames.h and answers each with a reply for the same command. Which requests it
// knows, what payload each must carry and what it does is one table in flash_monitor.cpp.
#pragma once
#include <cstdint>
#include <span>
#include <vector>

#include "sim/flash.h"
#include "sim/machine.h"
#include "sim/monitor_frames.h"

namespace kv70sim {

class FlashMonitor {
 public:
  explicit FlashMonitor(Machine& machine);

  // Starts the monitor afresh: no request under way, no erase.
  void Start() {
    reader_.Reset();
    erase_ = Erase::None;
  }
  // Drops the request under way (a break, or silence inside it).
  void DropFrame() { reader_.Reset(); }
  // Takes a byte that reached the device at `ns` while the monitor runs; true when it
  // completed a reboot request (the reply is on the line, the device goes resetting).
  bool Receive(std::uint8_t byte, std::uint64_t ns);

 private:
  enum class Erase { None, Busy, Done, Failed };
  // What a request's data must be for its command.
  enum class Payload {
    Empty,            // nothing
    SectorList,       // N(1), then N addresses(4)
    AddressAndData,   // address(4), then at least one byte
    AddressAndCount,  // address(4), count(2)
  };
  // A handler puts the reply's data in `reply_` (left empty: a reply without data).
  using Handler = void (FlashMonitor::*)(std::span<const std::uint8_t> data);
  struct Command {
    std::uint8_t code;
    Payload payload;
    Handler handler;
  };
  static const Command kCommands[];

  static bool Fits(Payload payload, std::span<const std::uint8_t> data);
  bool OnRequest(std::uint64_t ns);
  void Reply(std::uint8_t code, std::uint64_t ns);
  bool ProgramRefused() const;

  void Ping(std::span<const std::uint8_t> data);
  void EraseSectors(std::span<const std::uint8_t> data);
  void EraseStatus(std::span<const std::uint8_t> data);
  void Program(std::span<const std::uint8_t> data);
  void Reboot(std::span<const std::uint8_t> data);
  void Read(std::span<const std::uint8_t> data);
  void ReadConfig(std::span<const std::uint8_t> data);
  void CollectGarbage(std::span<const std::uint8_t> data);
  void ProgramDone(std::span<const std::uint8_t> data);
  void EraseFileSystem(std::span<const std::uint8_t> data);

  Machine& machine_;
  MonitorRequestReader reader_;
  std::vector<Sector> sectors_;
  Erase erase_ = Erase::None;
  std::uint64_t erasePollsLeft_ = 0;
  std::vector<std::uint8_t> reply_;  // reply data, reused for every request
  std::vector<std::uint8_t> frame_;  // the bytes sent, reused for every reply
  bool rebooting_ = false;           // the request being answered was a reboot
};

}  // namespace kv70sim
