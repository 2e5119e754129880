#include "sim/sim_port.h"

#include <algorithm>
#include <map>
#include <mutex>
#include <set>

#include "platform/port_engine.h"

namespace kv70sim {

namespace {

struct Registry {
  std::mutex mutex;
  std::map<std::string, std::shared_ptr<Device>> named;
  std::set<Device*> open;
  std::shared_ptr<Device> last;
  std::string lastError;
};

Registry& TheRegistry() {
  static Registry registry;
  return registry;
}

platform::Clock& WallClock() {
  static platform::SystemClock clock;
  return clock;
}

}  // namespace

SimPort::SimPort(std::shared_ptr<Device> device, platform::Clock& clock)
    : device_(std::move(device)), clock_(clock) {
  dcb_.BaudRate = 9600;
  std::uint64_t now = clock_.NowUs() * 1000;
  std::lock_guard lock(device_->Mutex());
  if (device_->NowNs() > now) offsetNs_ = device_->NowNs() - now;
  device_->PcSetLine(dcb_.BaudRate, true, ClockNs());
  // A port opens with empty queues and no line errors pending.
  device_->PcOpened();
}

SimPort::~SimPort() {
  {
    std::lock_guard lock(device_->Mutex());
    device_->AdvanceTo(ClockNs());
    try {
      device_->SaveOutputs();
    } catch (const SettingsError&) {
      // The device keeps its flash; it tries again when it is destroyed.
    }
  }
  auto& r = TheRegistry();
  std::lock_guard lock(r.mutex);
  r.open.erase(device_.get());
}

std::uint64_t SimPort::ClockNs() {
  return clock_.NowUs() * 1000 + offsetNs_;
}

void SimPort::SleepFromTo(std::uint64_t from, std::uint64_t to) {
  // Nothing else moves the clock while a port call runs on the PC's one thread, so the
  // start of the call stands for now; this saves a clock query per byte.
  if (to > from) clock_.SleepUs((to - from + 999) / 1000);
}

DWORD SimPort::GetState(DCB& dcb) {
  dcb = dcb_;
  return ERROR_SUCCESS;
}

DWORD SimPort::SetState(const DCB& dcb) {
  if (dcb.BaudRate == 0 || dcb.ByteSize < 5 || dcb.ByteSize > 8 || dcb.Parity > SPACEPARITY ||
      dcb.StopBits > TWOSTOPBITS)
    return ERROR_INVALID_PARAMETER;
  dcb_ = dcb;
  bool eightN1 = dcb.ByteSize == 8 && dcb.Parity == NOPARITY && dcb.StopBits == ONESTOPBIT;
  std::lock_guard lock(device_->Mutex());
  device_->PcSetLine(dcb.BaudRate, eightN1, ClockNs());
  return ERROR_SUCCESS;
}

DWORD SimPort::SetTimeouts(const COMMTIMEOUTS& timeouts) {
  timeouts_ = timeouts;
  return ERROR_SUCCESS;
}

DWORD SimPort::Read(BYTE* buffer, DWORD count, DWORD& read) {
  read = 0;
  if (count == 0) return ERROR_SUCCESS;
  const std::uint64_t start = ClockNs();
  readNs_ = start;
  DWORD error;
  {
    std::lock_guard lock(device_->Mutex());
    device_->AdvanceTo(start);
    device_->PcRead();
    error = platform::ReadWithTimeouts(*this, timeouts_, buffer, count, read);
  }
  SleepFromTo(start, readNs_);
  return error;
}

DWORD SimPort::Take(BYTE* buffer, DWORD count) {
  return static_cast<DWORD>(device_->PcTake(buffer, count));
}

DWORD SimPort::Collect(bool, std::size_t& arrived) {
  arrived = device_->PcAvailable();
  return ERROR_SUCCESS;
}

DWORD SimPort::WaitForInput(std::uint64_t deadlineNs, bool& ready) {
  std::uint64_t next;
  ready = device_->NextArrival(next) && next <= deadlineNs;
  if (ready) {
    readNs_ = std::max(readNs_, next);
  } else if (deadlineNs != platform::kNoDeadlineNs) {
    // Nothing more comes in time. A wait without any limit cannot be honoured by a
    // device that has nothing more to say, so it ends here too.
    readNs_ = std::max(readNs_, deadlineNs);
  }
  device_->AdvanceTo(readNs_);
  return ERROR_SUCCESS;
}

DWORD SimPort::Write(const BYTE* buffer, DWORD count, DWORD& written) {
  written = 0;
  if (count == 0) return ERROR_SUCCESS;
  const std::uint64_t start = ClockNs();
  std::uint64_t end;
  {
    std::lock_guard lock(device_->Mutex());
    DWORD n = count;
    const std::uint64_t deadline = platform::WriteDeadlineNs(timeouts_, count, start);
    const std::uint64_t perByte = 10ull * 1000000000ull / dcb_.BaudRate;
    if (deadline != platform::kNoDeadlineNs && perByte * count > deadline - start)
      n = static_cast<DWORD>((deadline - start) / perByte);
    end = device_->PcWrite(buffer, n, start);
    written = n;
  }
  SleepFromTo(start, end);
  return ERROR_SUCCESS;
}

DWORD SimPort::Purge(DWORD flags) {
  std::lock_guard lock(device_->Mutex());
  device_->AdvanceTo(ClockNs());
  // Writes finish before Write returns, so only received bytes can be waiting.
  if (flags & PURGE_RXCLEAR) device_->PcPurgeReceived();
  return ERROR_SUCCESS;
}

DWORD SimPort::SetBreak() {
  std::lock_guard lock(device_->Mutex());
  device_->PcSetBreak(true, ClockNs());
  return ERROR_SUCCESS;
}

DWORD SimPort::ClearBreak() {
  std::lock_guard lock(device_->Mutex());
  device_->PcSetBreak(false, ClockNs());
  return ERROR_SUCCESS;
}

DWORD SimPort::ClearError(DWORD& errors) {
  std::lock_guard lock(device_->Mutex());
  device_->AdvanceTo(ClockNs());
  errors = device_->PcTakeErrors();
  return ERROR_SUCCESS;
}

// --- Instances ------------------------------------------------------------------------------

DWORD OpenSimPort(const std::string& text, std::unique_ptr<platform::CommPort>& port) {
  auto& r = TheRegistry();
  std::lock_guard lock(r.mutex);
  try {
    Settings settings = Settings::Parse(text);
    platform::Clock& clock = settings.realtime ? WallClock() : platform::GetClock();
    std::uint64_t now = clock.NowUs() * 1000;
    std::shared_ptr<Device> device;
    if (!settings.name.empty()) {
      if (auto it = r.named.find(settings.name); it != r.named.end()) device = it->second;
    }
    if (device) {
      if (r.open.count(device.get())) {
        r.lastError = "device '" + settings.name + "' is already open";
        return ERROR_ACCESS_DENIED;
      }
      auto sim = std::make_unique<SimPort>(device, clock);
      if (settings.onOpen == OnOpen::Restart) {
        std::lock_guard deviceLock(device->Mutex());
        device->Restart(device->NowNs());
      }
      port = std::move(sim);
    } else {
      device = std::make_shared<Device>(settings, now);
      if (!settings.name.empty()) r.named[settings.name] = device;
      port = std::make_unique<SimPort>(device, clock);
    }
    r.open.insert(device.get());
    r.last = device;
    return ERROR_SUCCESS;
  } catch (const SettingsError& e) {
    r.lastError = e.what();
    return ERROR_INVALID_PARAMETER;
  }
}

void RegisterInProcessBackend() {
  platform::RegisterCommBackend("sim", OpenSimPort);
}

std::shared_ptr<Device> LastInstance() {
  auto& r = TheRegistry();
  std::lock_guard lock(r.mutex);
  return r.last;
}

std::shared_ptr<Device> FindInstance(const std::string& name) {
  auto& r = TheRegistry();
  std::lock_guard lock(r.mutex);
  auto it = r.named.find(name);
  return it == r.named.end() ? nullptr : it->second;
}

void ForgetInstances() {
  auto& r = TheRegistry();
  std::lock_guard lock(r.mutex);
  r.named.clear();
  r.last.reset();
}

std::string LastOpenError() {
  auto& r = TheRegistry();
  std::lock_guard lock(r.mutex);
  return r.lastError;
}

}  // namespace kv70sim
