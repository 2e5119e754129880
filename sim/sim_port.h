// The in-process port backend "sim[:key=value,...]": the PC's end of a serial line whose
// other end is a simulated device, in the time of the platform clock (virtual in tests:
// a read that waits for a reply byte moves the clock to the byte's arrival; one that
// waits in vain moves it by the whole time-out).
//
// Instances: a port opened with a `name=` setting attaches to the device of that name
// if one exists in this process (its flash, record and counters carry over; the new
// settings string is then used only for `on-open`), else makes it. Without a name every
// open makes a new device. A device is open to one port at a time.
#pragma once
#include <memory>
#include <string>

#include "platform/clock.h"
#include "platform/comm_port.h"
#include "platform/port_engine.h"
#include "sim/device.h"

namespace kv70sim {

class SimPort final : public platform::CommPort, private platform::PortFeed {
 public:
  // `clock` must outlive the port. The device's time line runs with the clock, shifted
  // so that it never goes back for a device that outlived an earlier clock.
  SimPort(std::shared_ptr<Device> device, platform::Clock& clock);
  ~SimPort() override;

  DWORD GetState(DCB& dcb) override;
  DWORD SetState(const DCB& dcb) override;
  DWORD SetTimeouts(const COMMTIMEOUTS& timeouts) override;
  DWORD Read(BYTE* buffer, DWORD count, DWORD& read) override;
  DWORD Write(const BYTE* buffer, DWORD count, DWORD& written) override;
  DWORD Purge(DWORD flags) override;
  DWORD SetBreak() override;
  DWORD ClearBreak() override;
  DWORD ClearError(DWORD& errors) override;

  Device& GetDevice() { return *device_; }

 private:
  // The time-out rules' feed, inside a read: the device's queue, its next arrival, and
  // the read's own time (readNs_), slept through on the clock when the read ends.
  std::uint64_t NowNs() override { return readNs_; }
  DWORD Take(BYTE* buffer, DWORD count) override;
  DWORD Collect(bool waitNext, std::size_t& arrived) override;
  DWORD WaitForInput(std::uint64_t deadlineNs, bool& ready) override;

  std::uint64_t ClockNs();
  void SleepFromTo(std::uint64_t from, std::uint64_t to);

  std::shared_ptr<Device> device_;
  platform::Clock& clock_;
  std::uint64_t offsetNs_ = 0;
  DCB dcb_;
  COMMTIMEOUTS timeouts_;
  std::uint64_t readNs_ = 0;
};

// The backend's factory: parses the settings, finds or makes the device, opens a port on
// it. Errors: ERROR_INVALID_PARAMETER for bad settings or image files (LastOpenError()
// says why), ERROR_ACCESS_DENIED when the named device is already open.
DWORD OpenSimPort(const std::string& settings, std::unique_ptr<platform::CommPort>& port);

// Registers OpenSimPort as the platform's "sim" backend.
void RegisterInProcessBackend();

// The device behind the most recently opened sim port (null before the first).
std::shared_ptr<Device> LastInstance();
// The named device, or null.
std::shared_ptr<Device> FindInstance(const std::string& name);
// Drops every named device and the last-instance reference (their outputs are saved).
void ForgetInstances();
// Why the last failed open failed.
std::string LastOpenError();

}  // namespace kv70sim
