// Driving the dump and the upgrade as the host does, for the fault matrix and the
// operations benchmark: a firmware file registered and chosen on the selection page, a
// log file named on the dump's page, then DoOperation through the e2e harness. Plus a
// wire tap that time-stamps every byte and every fixed wait, so a run can be cut into
// phases afterwards and each phase set against the line's floor.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "framework/afxwin.h"
#include "framework/uimodel.h"
#include "platform/clock.h"
#include "platform/comm_port.h"
#include "platform/registry.h"
#include "resources/resource.h"
#include "tests/e2e/e2e_harness.h"

namespace kv70::matrix {

// Registers `path` in the firmware catalogue as a KV70 file and lets the user choose it
// on the upgrade's selection page (Next checks the file, then Finish). False when the
// page refused it.
inline bool OfferFirmware(e2e::Harness& h, const std::string& description, const std::string& path) {
  HKEY key = nullptr;
  const std::string name = "SOFTWARE\\Quarnell\\Velmora\\Firmware\\" + description;
  if (platform::RegCreateKeyEx(HKEY_LOCAL_MACHINE, name.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                               KEY_ALL_ACCESS, nullptr, &key, nullptr) != ERROR_SUCCESS)
    return false;
  auto text = [key](const char* value, const std::string& s) {
    platform::RegSetValueEx(key, value, 0, REG_SZ, reinterpret_cast<const BYTE*>(s.c_str()),
                            static_cast<DWORD>(s.size() + 1));
  };
  text("Description", description);
  text("DeviceType", "KV70");
  text("FirmwarePath", path);
  const DWORD original = 0;
  platform::RegSetValueEx(key, "OriginalInstall", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&original),
                          sizeof original);
  platform::RegCloseKey(key);

  auto* page = reinterpret_cast<CPropertyPage*>(h.GetExports().GetPage(e2e::kSoftwareUpgrade, 0));
  if (!page) return false;
  CPropertySheet sheet("Velmora");
  sheet.AddPage(page);
  sheet.SetWizardMode();
  h.Ui().OnWizard([](CPropertySheet& s) {
    s.PressButton(PSBTN_NEXT);
    s.PressButton(PSBTN_FINISH);
  });
  sheet.DoModal();
  const bool refused = !h.Ui().Boxes().empty();
  h.Ui().ClearBoxes();
  return !refused;
}

// Types the log file's name on the dump's page and presses Next.
inline bool ChooseLogFile(e2e::Harness& h, const std::string& path) {
  auto* page = reinterpret_cast<CPropertyPage*>(h.GetExports().GetPage(e2e::kFileSystemDump, 0));
  if (!page) return false;
  CPropertySheet sheet("Velmora");
  sheet.AddPage(page);
  sheet.SetWizardMode();
  if (!sheet.Create() || !sheet.SetActivePage(0)) return false;
  const bool typed = uimodel::TypeText(*page, IDC_LOG_FILE_NAME, path.c_str());
  sheet.PressButton(PSBTN_NEXT);
  sheet.DestroyWindow();
  return typed;
}

// One thing on the wire or one fixed wait, with the virtual time it was seen at.
struct WireEvent {
  enum Kind { Write, Read, Wait, Speed, BreakSent } kind;
  std::uint64_t us;                 // when the call returned
  std::uint32_t count = 0;          // bytes, or ms for Wait and BreakSent, or bit/s
  std::vector<std::uint8_t> bytes;  // Write only: the bytes written
};

// A clock that passes everything to the harness's virtual clock and notes the plug-in's
// millisecond sleeps (its fixed waits; wire time goes through SleepUs).
class WaitRecordingClock final : public platform::Clock {
 public:
  WaitRecordingClock(platform::Clock& inner, std::vector<WireEvent>& events, std::mutex& mutex)
      : inner_(inner), events_(events), mutex_(mutex) {}
  std::uint64_t NowMs() override { return inner_.NowMs(); }
  std::uint64_t NowUs() override { return inner_.NowUs(); }
  void SleepMs(std::uint32_t ms) override {
    inner_.SleepMs(ms);
    std::lock_guard lock(mutex_);
    events_.push_back({WireEvent::Wait, inner_.NowUs(), ms, {}});
  }
  void SleepUs(std::uint64_t us) override { inner_.SleepUs(us); }
  bool IsVirtual() const override { return inner_.IsVirtual(); }

 private:
  platform::Clock& inner_;
  std::vector<WireEvent>& events_;
  std::mutex& mutex_;
};

class TimedTap final : public platform::WireTap {
 public:
  explicit TimedTap(platform::Clock& clock) : clock_(clock) {}
  void OnWrite(const BYTE* data, DWORD count) override {
    std::lock_guard lock(mutex);
    events.push_back({WireEvent::Write, clock_.NowUs(), count, std::vector<std::uint8_t>(data, data + count)});
  }
  void OnRead(const BYTE*, DWORD count) override {
    if (count == 0) return;
    std::lock_guard lock(mutex);
    events.push_back({WireEvent::Read, clock_.NowUs(), count, {}});
  }
  void OnBreakSent(DWORD ms) override {
    std::lock_guard lock(mutex);
    events.push_back({WireEvent::BreakSent, clock_.NowUs(), ms, {}});
  }
  void OnBreakReceived() override {}
  void OnSpeed(DWORD bitsPerSecond) override {
    std::lock_guard lock(mutex);
    events.push_back({WireEvent::Speed, clock_.NowUs(), bitsPerSecond, {}});
  }

  std::mutex mutex;
  std::vector<WireEvent> events;

 private:
  platform::Clock& clock_;
};

}  // namespace kv70::matrix
