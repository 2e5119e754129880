// A KV70 played by a test at the frame level: the boot ROM's breaks, the ROM monitor's
// probe, write, go and read frames over a memory map, and, once the monitor image was
// started at 0x200000, the flash monitor's ping, configuration and reboot. Each behaviour
// can be bent by a hook to make the device silent, refuse or corrupt.
#pragma once
#include <cstring>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "protocol/testing/monitor_bytes.h"
#include "protocol/testing/scripted_line.h"

namespace kv70test {

struct RomFrame {
  BYTE type;
  DWORD address;
  Bytes payload;  // after the address (the byte count for a read)
  bool bulk;      // ends 03 00 00
};

class ScriptedRom {
 public:
  explicit ScriptedRom(ScriptedLine& line) : line_(line) {
    line.SetResponder([this](ScriptedLine& l, const Bytes& w) { OnWrite(l, w); });
    record.assign(184, 0);
    SetNumber(176, 8922);  // FlashType
  }

  // The boot ROM sends this many breaks: one now, then one a second after each
  // identification but the last.
  void BootWithBreaks(int count) {
    breaksLeft = count;
    if (breaksLeft-- > 0) line_.RaiseBreak();
  }
  void SetNumber(size_t offset, WORD value) {
    record[offset] = static_cast<BYTE>(value >> 8);
    record[offset + 1] = static_cast<BYTE>(value);
  }

  // Hooks; each gets the running count of its kind (from 0) and returns whether to act.
  std::function<bool(int)> answerProbe = [](int) { return true; };
  std::function<bool(const RomFrame&, int)> ackWrite = [](const RomFrame&, int) { return true; };
  std::function<bool(const RomFrame&, int)> ackGo = [](const RomFrame&, int) { return true; };
  // May change the answer to a read before it is sent.
  std::function<void(Bytes& answer, int)> bendRead = [](Bytes&, int) {};
  bool monitorAnswers = true;
  bool romAnswers = true;

  // What the PC sent.
  std::vector<RomFrame> frames;
  std::vector<Bytes> identifications;
  std::vector<BYTE> monitorCommands;
  int probes = 0;
  std::map<DWORD, BYTE> memory;
  Bytes record;
  bool monitorRunning = false;
  int breaksLeft = 0;

 private:
  static DWORD Address(const Bytes& w) {
    return DWORD{w[4]} << 24 | DWORD{w[5]} << 16 | DWORD{w[6]} << 8 | w[7];
  }

  void OnWrite(ScriptedLine& l, const Bytes& w) {
    static const Bytes kProbe = {0x05, 0x0A, 0x14, 0x28, 0x00, 0x00};
    if (w == kProbe) {
      if (romAnswers && !monitorRunning && answerProbe(probes)) l.QueueByte(0x06);
      ++probes;
      return;
    }
    if (w.size() >= 8 && w[0] == 0x02 && w[1] == 0x00 && w[2] == 0x6E) {
      identifications.push_back(w);
      if (breaksLeft-- > 0) l.RaiseBreakAfter(1000);
      return;
    }
    if (monitorRunning && w.size() >= 8 && w[0] == 0x02) {
      monitorCommands.push_back(w[1]);
      if (!monitorAnswers) return;
      if (w[1] == 0x00) l.Queue(MonitorFrame(0x00, {}));
      if (w[1] == 0x04) l.Queue(MonitorFrame(0x04, {}));
      if (w[1] == 0x06) l.Queue(MonitorFrame(0x06, record));
      return;
    }
    if (w.size() >= 10 && w[0] == 0x02 && w[1] == 0x00) {
      const BYTE type = w[2];
      const size_t length = w[3];
      const size_t trailer = w.size() - 4 - length - 2;
      RomFrame f{type, Address(w), {}, trailer == 2};
      for (size_t i = 8; i < 4 + length; ++i) f.payload.push_back(w[i]);
      frames.push_back(f);
      if (!romAnswers) return;
      if (type == 0x81) {
        if (!ackWrite(f, writes_++)) return;
        for (size_t i = 0; i < f.payload.size(); ++i) memory[f.address + i] = f.payload[i];
        l.QueueByte(0x06);
      } else if (type == 0x82) {
        if (!ackGo(f, goes_++)) return;
        l.QueueByte(0x06);
        if (f.address == 0x200000) monitorRunning = true;
      } else if (type == 0x80) {
        const BYTE n = f.payload[0];
        Bytes answer;
        answer.reserve(n + 6u);
        for (BYTE b : {BYTE{0x02}, BYTE{0x00}, BYTE{0x92}, n}) answer.push_back(b);
        BYTE sum = static_cast<BYTE>(0x92 + n);
        for (DWORD i = 0; i < n; ++i) {
          const BYTE b = memory.count(f.address + i) ? memory[f.address + i] : 0xFF;
          answer.push_back(b);
          sum = static_cast<BYTE>(sum + b);
        }
        answer.push_back(sum);
        answer.push_back(0x03);
        bendRead(answer, reads_++);
        l.Queue(answer);
      }
    }
  }

  ScriptedLine& line_;
  int writes_ = 0;
  int goes_ = 0;
  int reads_ = 0;
};

}  // namespace kv70test
