// A connected CKV70Device over a scripted flash monitor, in virtual time, with helpers
// to write S-record files and to read back what the PC sent.
#pragma once
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "device/kv70_device.h"
#include "device/tests/failure_text.h"
#include "platform/clock.h"
#include "platform/testing/system_for_tests.h"
#include "protocol/testing/monitor_bytes.h"
#include "protocol/testing/scripted_line.h"
#include "protocol/testing/test_run.h"
#include "reporting/failures.h"
#include "resources/testing/kv70_test_module.h"
#include "serial/serial_com.h"

namespace kv70test {

// The 184-byte configuration record with the numbers the flash steps read.
struct RecordLayout {
  WORD flashType = 8922;
  WORD info0 = 4;
  WORD info1 = 0xFFFF;
  WORD appId = 0;
  BYTE appValue0 = 0xFF;  // 8-bit value of application option 33
  BYTE appValue1 = 0xFF;  // of application option 40
};

inline Bytes MakeRecord(const RecordLayout& s) {
  Bytes r(184, 0);
  auto put = [&r](size_t offset, WORD v) {
    r[offset] = static_cast<BYTE>(v >> 8);
    r[offset + 1] = static_cast<BYTE>(v);
  };
  put(172, s.info0);
  put(174, s.info1);
  put(176, s.flashType);
  put(180, 1);
  put(182, s.appId);
  r[110 + 33 + 6] = s.appValue0;
  r[110 + 40 + 6] = s.appValue1;
  return r;
}

// A program request as seen on the line.
struct ProgramBlockSeen {
  DWORD address;
  Bytes data;
  bool operator==(const ProgramBlockSeen&) const = default;
};

class FlashTest : public ::testing::Test {
 protected:
  void SetUp() override {
    kv70::testing::UseKV70Resources();
    line.SetResponder([this](ScriptedLine& l, const Bytes& w) { OnRequest(l, w); });
    port.Open(1, 1, 0, 0, 6);
    path = (std::filesystem::temp_directory_path() /
            ("kv70_flash_" + platform_test::UniqueName("") + "_" +
             ::testing::UnitTest::GetInstance()->current_test_info()->name() + ".x"))
               .string();
  }
  void TearDown() override {
    port.Close();
    std::filesystem::remove(path);
  }

  // Decodes the record into the device, as Connect would have.
  void UseRecord(const RecordLayout& layout) {
    record = MakeRecord(layout);
    ASSERT_TRUE(device.GetConfig().Decode(record.data(), 184));
  }

  // A file: a header record, the lines, five filler S5 records (the format check wants
  // six records up front) and an end record.
  void WriteFile(const std::vector<std::string>& lines) {
    std::ofstream out(path, std::ios::binary);
    out << SRecordText(0, 0, {'H', 'D', 'R'});
    for (int i = 0; i < 5; ++i) out << SRecordText(5, 0, {0x00, 0x00});
    for (const auto& l : lines) out << l;
    out << SRecordText(7, 0, {0x02, 0x40, 0x00, 0x00});
  }

  // The monitor's side. Every request is kept; commands in `silent` get no reply;
  // `answer` may give the reply data, otherwise (nullopt) the defaults below answer.
  void OnRequest(ScriptedLine& l, const Bytes& w) {
    if (w.size() < 8 || w[0] != 0x02) return;
    requests.push_back(w);
    const BYTE command = w[1];
    const int nth = counts[command]++;
    if (silent.count(command)) return;
    if (answer) {
      if (auto reply = answer(command, nth, w)) {
        l.Queue(MonitorFrame(command, *reply));
        return;
      }
    }
    switch (command) {
      case 0x06:
        l.Queue(MonitorFrame(command, record));
        break;
      case 0x01:
        l.Queue(MonitorFrame(command, {}));
        break;
      default:
        l.Queue(MonitorFrame(command, {0x01}));
        break;
    }
  }

  std::vector<BYTE> Commands() const {
    std::vector<BYTE> out;
    for (const Bytes& r : requests) out.push_back(r[1]);
    return out;
  }
  std::vector<DWORD> ErasedSectors() const {
    for (const Bytes& r : requests) {
      if (r[1] != 0x01) continue;
      std::vector<DWORD> out;
      for (size_t i = 0; i < r[4]; ++i)
        out.push_back(DWORD{r[5 + 4 * i]} << 24 | DWORD{r[6 + 4 * i]} << 16 |
                      DWORD{r[7 + 4 * i]} << 8 | r[8 + 4 * i]);
      return out;
    }
    return {};
  }
  std::vector<ProgramBlockSeen> ProgramBlocks() const {
    std::vector<ProgramBlockSeen> out;
    for (const Bytes& w : requests) {
      if (w[1] != 0x03) continue;
      const size_t n = (size_t{w[2]} << 8 | w[3]) - 4;
      out.push_back({DWORD{w[4]} << 24 | DWORD{w[5]} << 16 | DWORD{w[6]} << 8 | w[7],
                     Bytes(w.begin() + 8, w.begin() + 8 + static_cast<long>(n))});
    }
    return out;
  }

  platform::VirtualClock clock;
  platform::ScopedClock useClock{clock};
  ScriptedLine line;
  TestRun run;
  CSerialCom port;
  CKV70Device device{port, run.record};

  Bytes record = MakeRecord({});
  std::function<std::optional<Bytes>(BYTE command, int nth, const Bytes& request)> answer;
  std::set<BYTE> silent;
  std::vector<Bytes> requests;
  std::map<BYTE, int> counts;
  std::string path;
};

}  // namespace kv70test
