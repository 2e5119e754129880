#include "sim/sim_port.h"

#include <map>
#include <mutex>
#include <set>

namespace kv70sim {

namespace {

constexpr std::uint64_t kNsPerMs = 1000000;
constexpr std::uint64_t kForever = UINT64_MAX;

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

std::uint64_t Ms(DWORD ms) {
  return static_cast<std::uint64_t>(ms) * kNsPerMs;
}

}  // namespace

SimPort::SimPort(std::shared_ptr<Device> device, platform::Clock& clock)
    : device_(std::move(device)), clock_(clock) {
  dcb_.BaudRate = 9600;
  std::uint64_t now = clock_.NowUs() * 1000;
  std::lock_guard lock(device_->Mutex());
  if (device_->NowNs() > now) offsetNs_ = device_->NowNs() - now;
  device_->PcSetLine(dcb_.BaudRate, true, NowNs());
  // A port opens with empty queues and no line errors pending.
  device_->PcOpened();
}

SimPort::~SimPort() {
  {
    std::lock_guard lock(device_->Mutex());
    device_->AdvanceTo(NowNs());
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

std::uint64_t SimPort::NowNs() {
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
  device_->PcSetLine(dcb.BaudRate, eightN1, NowNs());
  return ERROR_SUCCESS;
}

DWORD SimPort::SetTimeouts(const COMMTIMEOUTS& timeouts) {
  timeouts_ = timeouts;
  return ERROR_SUCCESS;
}

DWORD SimPort::Read(BYTE* buffer, DWORD count, DWORD& read) {
  read = 0;
  if (count == 0) return ERROR_SUCCESS;
  const auto& t = timeouts_;
  const std::uint64_t start = NowNs();
  std::uint64_t end = start;
  {
    std::lock_guard lock(device_->Mutex());
    Device& d = *device_;
    d.AdvanceTo(start);
    d.PcRead();
    read = static_cast<DWORD>(d.PcTake(buffer, count));

    // The time-out rules: MAXDWORD/0/0 returns at once; MAXDWORD/MAXDWORD/C waits up to
    // C for the first byte; otherwise the total is multiplier x count + constant (none
    // when both are 0) and an interval, when set, ends the read at a gap between bytes.
    const bool immediate = t.ReadIntervalTimeout == MAXDWORD && t.ReadTotalTimeoutMultiplier == 0 &&
                           t.ReadTotalTimeoutConstant == 0;
    const bool firstByte =
        t.ReadIntervalTimeout == MAXDWORD && t.ReadTotalTimeoutMultiplier == MAXDWORD &&
        t.ReadTotalTimeoutConstant != 0 && t.ReadTotalTimeoutConstant != MAXDWORD;
    std::uint64_t deadline = kForever;
    if (firstByte) {
      deadline = start + Ms(t.ReadTotalTimeoutConstant);
    } else if (!immediate) {
      std::uint64_t total = static_cast<std::uint64_t>(t.ReadTotalTimeoutMultiplier) * count +
                            t.ReadTotalTimeoutConstant;
      if (total)
        deadline = start + Ms(static_cast<DWORD>(std::min<std::uint64_t>(total, MAXDWORD)));
    }
    const bool useInterval =
        !firstByte && !immediate && t.ReadIntervalTimeout != 0 && t.ReadIntervalTimeout != MAXDWORD;
    std::uint64_t lastByte = start;

    while (!immediate && read < count && !(firstByte && read > 0)) {
      std::uint64_t limit = deadline;
      if (useInterval && read > 0) limit = std::min(limit, lastByte + Ms(t.ReadIntervalTimeout));
      std::uint64_t next;
      if (!d.NextArrival(next) || next > limit) {
        // Nothing more will come in time. A wait without any limit cannot be honoured
        // by a device that has nothing more to say, so it ends here too.
        if (limit != kForever) end = std::max(end, limit);
        d.AdvanceTo(end);
        read += static_cast<DWORD>(d.PcTake(buffer + read, count - read));
        break;
      }
      d.AdvanceTo(next);
      end = std::max(end, next);
      std::size_t got = d.PcTake(buffer + read, count - read);
      if (got) lastByte = next;
      read += static_cast<DWORD>(got);
    }
  }
  SleepFromTo(start, end);
  return ERROR_SUCCESS;
}

DWORD SimPort::Write(const BYTE* buffer, DWORD count, DWORD& written) {
  written = 0;
  if (count == 0) return ERROR_SUCCESS;
  const std::uint64_t start = NowNs();
  std::uint64_t end;
  {
    std::lock_guard lock(device_->Mutex());
    DWORD n = count;
    std::uint64_t limit =
        static_cast<std::uint64_t>(timeouts_.WriteTotalTimeoutMultiplier) * count +
        timeouts_.WriteTotalTimeoutConstant;
    std::uint64_t perByte = 10ull * 1000000000ull / dcb_.BaudRate;
    if (limit && perByte * count > Ms(static_cast<DWORD>(std::min<std::uint64_t>(limit, MAXDWORD))))
      n = static_cast<DWORD>(Ms(static_cast<DWORD>(limit)) / perByte);
    end = device_->PcWrite(buffer, n, start);
    written = n;
  }
  SleepFromTo(start, end);
  return ERROR_SUCCESS;
}

DWORD SimPort::Purge(DWORD flags) {
  std::lock_guard lock(device_->Mutex());
  device_->AdvanceTo(NowNs());
  // Writes finish before Write returns, so only received bytes can be waiting.
  if (flags & PURGE_RXCLEAR) device_->PcPurgeReceived();
  return ERROR_SUCCESS;
}

DWORD SimPort::SetBreak() {
  std::lock_guard lock(device_->Mutex());
  device_->PcSetBreak(true, NowNs());
  return ERROR_SUCCESS;
}

DWORD SimPort::ClearBreak() {
  std::lock_guard lock(device_->Mutex());
  device_->PcSetBreak(false, NowNs());
  return ERROR_SUCCESS;
}

DWORD SimPort::ClearError(DWORD& errors) {
  std::lock_guard lock(device_->Mutex());
  device_->AdvanceTo(NowNs());
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
