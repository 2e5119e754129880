// The PC's end of a simulated line for tests: a port on a device in virtual time, and
// frame builders that follow the wire layouts written out in the tests.
#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "sim/device.h"
#include "sim/sim_port.h"

namespace kv70sim::testing {

using Bytes = std::vector<std::uint8_t>;

class Line {
 public:
  explicit Line(const std::string& settings)
      : device(std::make_shared<Device>(Settings::Parse(settings), 0)), port(device, clock) {
    COMMTIMEOUTS t;
    t.ReadIntervalTimeout = MAXDWORD;
    t.ReadTotalTimeoutMultiplier = MAXDWORD;
    t.ReadTotalTimeoutConstant = 1000;
    port.SetTimeouts(t);
  }

  void Send(const Bytes& bytes) {
    DWORD written = 0;
    port.Write(bytes.data(), static_cast<DWORD>(bytes.size()), written);
  }
  // Reads up to `n` bytes one at a time; stops at the first read that times out.
  Bytes Receive(std::size_t n = 4096) {
    Bytes got;
    while (got.size() < n) {
      BYTE b;
      DWORD read = 0;
      port.Read(&b, 1, read);
      if (read == 0) break;
      got.push_back(b);
    }
    return got;
  }
  Bytes Exchange(const Bytes& request, std::size_t n = 4096) {
    Send(request);
    return Receive(n);
  }
  void SetBaud(DWORD baud) {
    DCB dcb;
    port.GetState(dcb);
    dcb.BaudRate = baud;
    port.SetState(dcb);
  }
  bool BreakSeen() {
    DWORD errors = 0;
    port.ClearError(errors);
    return (errors & CE_BREAK) != 0;
  }
  std::uint64_t NowMs() { return clock.NowMs(); }

  platform::VirtualClock clock;
  std::shared_ptr<Device> device;
  SimPort port;
};

// 02 00 type L payload sum 03 [00 00]; sum over 00, type, L and the payload.
inline Bytes RomFrame(std::uint8_t type, const Bytes& payload, bool bulk) {
  Bytes f;
  f.reserve(payload.size() + 8);
  for (std::uint8_t b :
       {std::uint8_t{0x02}, std::uint8_t{0x00}, type, static_cast<std::uint8_t>(payload.size())})
    f.push_back(b);
  for (std::uint8_t b : payload) f.push_back(b);
  std::uint8_t sum = 0;
  for (std::size_t i = 1; i < f.size(); ++i) sum = static_cast<std::uint8_t>(sum + f[i]);
  f.push_back(sum);
  f.push_back(0x03);
  if (bulk) f.insert(f.end(), {0x00, 0x00});
  return f;
}

inline Bytes Be32(std::uint32_t v) {
  return {static_cast<std::uint8_t>(v >> 24), static_cast<std::uint8_t>(v >> 16),
          static_cast<std::uint8_t>(v >> 8), static_cast<std::uint8_t>(v)};
}

inline Bytes Cat(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

inline Bytes RomWrite(std::uint32_t address, const Bytes& data, bool bulk = false) {
  return RomFrame(0x81, Cat(Be32(address), data), bulk);
}
inline Bytes RomRead(std::uint32_t address, std::uint8_t n) {
  return RomFrame(0x80, Cat(Be32(address), {n}), true);
}
inline Bytes RomGo(std::uint32_t address) {
  return RomFrame(0x82, Be32(address), true);
}

inline const std::string kReadOnlyId =
    "PRODUCT,ZELDLOAD;PORT,0,9600,9600,8,1,N,T;VERSION,5.03,1/17/97,1.0,1/17/97;COMM,NMEA";
inline const std::string kUpgradeId =
    "PRODUCT,ZELDLOAD;PORT,0,9600,9600,8,1,N,T;VERSION,1.03,1/17/97,1.0,1/17/97;COMM,NMEA";

inline Bytes Identification(const std::string& text) {
  return RomFrame(0x6E, Bytes(text.begin(), text.end()), false);
}

inline const Bytes kProbe{0x05, 0x0A, 0x14, 0x28, 0x00, 0x00};
inline const Bytes kAck{0x06};

// 02 code nH nL data sH sL 03 00; s = 16-bit sum of code, nH, nL and data.
inline Bytes Request(std::uint8_t code, const Bytes& data = {}) {
  auto n = static_cast<std::uint16_t>(data.size());
  Bytes f{0x02, code, static_cast<std::uint8_t>(n >> 8), static_cast<std::uint8_t>(n)};
  f.insert(f.end(), data.begin(), data.end());
  std::uint16_t sum = 0;
  for (std::size_t i = 1; i < f.size(); ++i) sum = static_cast<std::uint16_t>(sum + f[i]);
  f.insert(f.end(),
           {static_cast<std::uint8_t>(sum >> 8), static_cast<std::uint8_t>(sum), 0x03, 0x00});
  return f;
}
// A reply as the device must frame it: the request's layout without the trailing 00.
inline Bytes Reply(std::uint8_t code, const Bytes& data = {}) {
  Bytes f = Request(code, data);
  f.pop_back();
  return f;
}

// The data of the first reply frame for `code` in `bytes` (noise and other frames are
// skipped); false when there is none with a good checksum.
bool FindReply(const Bytes& bytes, std::uint8_t code, Bytes& data);

// Drives a fresh line from its restart to a running flash monitor at 38400 bit/s with
// the loader's frames built here; false (and a message) at the first step that fails.
bool BringUpMonitor(Line& line, std::string& failure);

}  // namespace kv70sim::testing
