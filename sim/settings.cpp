#include "sim/settings.h"

#include <charconv>
#include <cstdlib>

namespace kv70sim {

namespace {

[[noreturn]] void Fail(std::string_view key, std::string_view value, std::string_view why) {
  throw SettingsError("setting '" + std::string(key) + "=" + std::string(value) +
                      "': " + std::string(why));
}

std::uint64_t Number(std::string_view key, std::string_view value, std::uint64_t max) {
  std::string_view digits = value;
  int base = 10;
  if (digits.size() > 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X')) {
    digits.remove_prefix(2);
    base = 16;
  }
  std::uint64_t result = 0;
  auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), result, base);
  if (digits.empty() || ec != std::errc() || end != digits.data() + digits.size())
    Fail(key, value, "not a number");
  if (result > max) Fail(key, value, "larger than " + std::to_string(max));
  return result;
}

bool Flag(std::string_view key, std::string_view value) {
  if (value == "1" || value == "yes" || value == "on" || value == "true") return true;
  if (value == "0" || value == "no" || value == "off" || value == "false") return false;
  Fail(key, value, "expected 0 or 1");
}

Range RangeOf(std::string_view key, std::string_view value) {
  auto dash = value.find('-');
  Range r;
  if (dash == std::string_view::npos) {
    r.first = r.last = Number(key, value, UINT64_MAX);
  } else {
    r.first = Number(key, value.substr(0, dash), UINT64_MAX);
    r.last = Number(key, value.substr(dash + 1), UINT64_MAX);
  }
  if (r.last < r.first) Fail(key, value, "range ends before it starts");
  return r;
}

RecordText Text(std::string_view key, std::string_view value, std::size_t width) {
  if (value == "~") return RecordText{false, {}};
  if (value.size() > width) Fail(key, value, "longer than " + std::to_string(width) + " bytes");
  return RecordText{true, std::string(value)};
}

std::vector<std::uint8_t> Hex(std::string_view key, std::string_view value, std::size_t max) {
  std::vector<std::uint8_t> bytes;
  if (value.size() % 2 != 0) Fail(key, value, "odd number of hex digits");
  for (std::size_t i = 0; i < value.size(); i += 2) {
    unsigned byte = 0;
    auto [end, ec] = std::from_chars(value.data() + i, value.data() + i + 2, byte, 16);
    if (ec != std::errc() || end != value.data() + i + 2) Fail(key, value, "not hex");
    bytes.push_back(static_cast<std::uint8_t>(byte));
  }
  if (bytes.size() > max) Fail(key, value, "more than " + std::to_string(max) + " bytes");
  return bytes;
}

using Setter = void (*)(Settings&, std::string_view key, std::string_view value);

struct Row {
  SettingInfo info;
  Setter set;
};

// key, value form, help, setter
const Row kRows[] = {
    {{"name", "ID",
      "in-process: instance name: ports opened with the same name in one process share one "
      "device (its flash and record survive a close and reopen)"},
     [](Settings& s, auto, auto v) { s.name = std::string(v); }},
    {{"on-open", "restart|keep",
      "in-process: what opening the port does to a named device that already "
      "exists: restart it as 'state' says (default), or leave it as it is"},
     [](Settings& s, auto k, auto v) {
       if (v == "restart")
         s.onOpen = OnOpen::Restart;
       else if (v == "keep")
         s.onOpen = OnOpen::Keep;
       else
         Fail(k, v, "expected restart or keep");
     }},
    {{"state", "boot|rom|monitor",
      "boot: the device restarts into its boot ROM and signals with "
      "breaks (default); rom: as boot, with the breaks and the "
      "identification taken as done, so that the ROM monitor answers "
      "probes at 9600 bit/s (for a line that carries no break); "
      "monitor: a flash monitor is left running at 38400 bit/s from "
      "an earlier connection"},
     [](Settings& s, auto k, auto v) {
       if (v == "boot")
         s.state = StartState::Boot;
       else if (v == "rom")
         s.state = StartState::Rom;
       else if (v == "monitor")
         s.state = StartState::Monitor;
       else
         Fail(k, v, "expected boot, rom or monitor");
     }},
    {{"breaks", "N", "breaks the boot ROM signals after a restart (default 1)"},
     [](Settings& s, auto k, auto v) { s.breaks = static_cast<unsigned>(Number(k, v, 1000)); }},
    {{"boot-ms", "MS", "time from a restart to the first break (default 500)"},
     [](Settings& s, auto k, auto v) {
       s.bootMs = static_cast<std::uint32_t>(Number(k, v, 3600000));
     }},
    {{"break-interval-ms", "MS", "time between two breaks (default 1000)"},
     [](Settings& s, auto k, auto v) {
       s.breakIntervalMs = static_cast<std::uint32_t>(Number(k, v, 3600000));
     }},
    {{"turnaround-us", "US", "device time from the end of a request to its reply (default 100)"},
     [](Settings& s, auto k, auto v) {
       s.turnaroundUs = static_cast<std::uint32_t>(Number(k, v, 10000000));
     }},
    {{"frame-gap-ms", "MS", "silence inside a frame after which the device drops it (default 100)"},
     [](Settings& s, auto k, auto v) {
       s.frameGapMs = static_cast<std::uint32_t>(Number(k, v, 3600000));
     }},
    {{"reset-ms", "MS", "time from the reboot reply to the restart (default 50)"},
     [](Settings& s, auto k, auto v) {
       s.resetMs = static_cast<std::uint32_t>(Number(k, v, 3600000));
     }},
    {{"flash-type", "N", "FlashType in the record; selects the sector table (default 8922)"},
     [](Settings& s, auto k, auto v) {
       s.flashType = static_cast<std::uint16_t>(Number(k, v, 0xFFFF));
     }},
    {{"fs-mb", "N", "file-system flash size in MiB, also FileSystemMb in the record (default 1)"},
     [](Settings& s, auto k, auto v) { s.fsMb = static_cast<std::uint32_t>(Number(k, v, 256)); }},
    {{"serial", "TEXT|~", "serial number (32 bytes; ~ leaves the field unset, 0xFF)"},
     [](Settings& s, auto k, auto v) { s.serial = Text(k, v, 32); }},
    {{"owner1", "TEXT|~", "owner string 1 (36 bytes; ~ unset)"},
     [](Settings& s, auto k, auto v) { s.owner1 = Text(k, v, 36); }},
    {{"owner2", "TEXT|~", "owner string 2 (36 bytes; ~ unset)"},
     [](Settings& s, auto k, auto v) { s.owner2 = Text(k, v, 36); }},
    {{"info0", "N", "Info0 in the record (default 4)"},
     [](Settings& s, auto k, auto v) {
       s.info0 = static_cast<std::uint16_t>(Number(k, v, 0xFFFF));
     }},
    {{"info1", "N", "Info1 in the record (default 0xFFFF, absent)"},
     [](Settings& s, auto k, auto v) {
       s.info1 = static_cast<std::uint16_t>(Number(k, v, 0xFFFF));
     }},
    {{"info3", "N", "Info3 in the record (default 0xFFFF)"},
     [](Settings& s, auto k, auto v) {
       s.info3 = static_cast<std::uint16_t>(Number(k, v, 0xFFFF));
     }},
    {{"app-id", "N", "ApplicationId in the record (default 0)"},
     [](Settings& s, auto k, auto v) {
       s.appId = static_cast<std::uint16_t>(Number(k, v, 0xFFFF));
     }},
    {{"options", "HEX",
      "leading bytes of the 62-byte option area as hex digits; the rest keep "
      "their defaults"},
     [](Settings& s, auto k, auto v) { s.options = Hex(k, v, 62); }},
    {{"fs-fill", "pattern|erased",
      "file-system flash content without fs-image: an address "
      "pattern (default) or erased (0xFF)"},
     [](Settings& s, auto k, auto v) {
       if (v == "pattern")
         s.fsFill = FsFill::Pattern;
       else if (v == "erased")
         s.fsFill = FsFill::Erased;
       else
         Fail(k, v, "expected pattern or erased");
     }},
    {{"fs-image", "PATH", "raw file-system flash content from 0x02800000"},
     [](Settings& s, auto, auto v) { s.fsImage = std::string(v); }},
    {{"prog-image", "PATH", "raw program flash content from 0x02400000"},
     [](Settings& s, auto, auto v) { s.progImage = std::string(v); }},
    {{"prog-out", "PATH", "program flash written here when the simulator shuts down"},
     [](Settings& s, auto, auto v) { s.progOut = std::string(v); }},
    {{"fs-out", "PATH", "file-system flash written here when the simulator shuts down"},
     [](Settings& s, auto, auto v) { s.fsOut = std::string(v); }},
    {{"seed", "N", "seed of every random choice (noise, garbled bytes, checksum faults)"},
     [](Settings& s, auto k, auto v) { s.seed = Number(k, v, UINT64_MAX); }},
    {{"realtime", "0|1", "in-process: keep wall-clock time instead of the platform clock"},
     [](Settings& s, auto k, auto v) { s.realtime = Flag(k, v); }},
    {{"pull", "K-M",
      "fault: cable pulled from exchange K to M; an exchange starts with the "
      "first write after a read, counted from 1 since the device was made, "
      "ROM-monitor exchanges included; repeatable"},
     [](Settings& s, auto k, auto v) { s.pullExchanges.push_back(RangeOf(k, v)); }},
    {{"pull-ms", "A-B", "fault: cable pulled from A to B ms after the device was made; repeatable"},
     [](Settings& s, auto k, auto v) { s.pullMs.push_back(RangeOf(k, v)); }},
    {{"noise", "N", "fault: N noise bytes (never 0x02) before each flash-monitor reply"},
     [](Settings& s, auto k, auto v) { s.noise = static_cast<unsigned>(Number(k, v, 4096)); }},
    {{"foreign", "0|1", "fault: a frame for another command before each flash-monitor reply"},
     [](Settings& s, auto k, auto v) { s.foreign = Flag(k, v); }},
    {{"bad-checksum", "K[-M]",
      "fault: flash-monitor replies K to M (counted from 1) go out "
      "with a wrong checksum; repeatable"},
     [](Settings& s, auto k, auto v) { s.badChecksum.push_back(RangeOf(k, v)); }},
    {{"late-reply", "K[-M]",
      "fault: flash-monitor replies K to M (counted from 1) go out 1500 ms late, after "
      "the PC's read time-out; repeatable"},
     [](Settings& s, auto k, auto v) { s.lateReply.push_back(RangeOf(k, v)); }},
    {{"bad-checksum-rate", "P",
      "fault: any flash-monitor reply goes out with a wrong checksum "
      "with probability P (0 to 1; drawn from seed)"},
     [](Settings& s, auto k, auto v) {
       char* end = nullptr;
       std::string text(v);
       double p = std::strtod(text.c_str(), &end);
       if (text.empty() || *end != '\0' || !(p >= 0.0 && p <= 1.0)) Fail(k, v, "expected 0 to 1");
       s.badChecksumRate = p;
     }},
    {{"erase-busy", "N|forever", "status polls a sector erase stays busy (default 3)"},
     [](Settings& s, auto k, auto v) {
       if (v == "forever")
         s.eraseBusy.reset();
       else
         s.eraseBusy = static_cast<unsigned>(Number(k, v, 1000000));
     }},
    {{"program-refuse", "all|K[-M]",
      "fault: program requests K to M (counted from 1), or all, "
      "are refused; repeatable"},
     [](Settings& s, auto k, auto v) {
       if (v == "all")
         s.programRefuseAll = true;
       else
         s.programRefuse.push_back(RangeOf(k, v));
     }},
    {{"monitor-silent", "0|1", "fault: the flash monitor takes requests but never answers"},
     [](Settings& s, auto k, auto v) { s.monitorSilent = Flag(k, v); }},
    {{"config-len", "N",
      "fault: the configuration reply carries N bytes instead of 184 "
      "(cut short or padded with zeros)"},
     [](Settings& s, auto k, auto v) {
       s.configLen = static_cast<std::uint32_t>(Number(k, v, 1024));
     }},
};

}  // namespace

const std::vector<SettingInfo>& SettingTable() {
  static const std::vector<SettingInfo> table = [] {
    std::vector<SettingInfo> rows;
    for (const auto& row : kRows) rows.push_back(row.info);
    return rows;
  }();
  return table;
}

void Settings::Apply(std::string_view key, std::string_view value) {
  for (const auto& row : kRows) {
    if (key == row.info.key) {
      row.set(*this, key, value);
      return;
    }
  }
  throw SettingsError("unknown setting '" + std::string(key) + "'");
}

Settings Settings::Parse(std::string_view text) {
  Settings settings;
  std::string item;
  auto flush = [&] {
    if (item.empty()) return;
    auto eq = item.find('=');
    if (eq == std::string::npos) throw SettingsError("setting '" + item + "' has no '='");
    settings.Apply(std::string_view(item).substr(0, eq), std::string_view(item).substr(eq + 1));
    item.clear();
  };
  for (std::size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    // Only a comma or a backslash is escaped, so that a Windows path (C:\data\fs.bin)
    // is taken as it stands.
    if (c == '\\' && i + 1 < text.size() && (text[i + 1] == ',' || text[i + 1] == '\\')) {
      item += text[++i];
    } else if (c == ',') {
      flush();
    } else {
      item += c;
    }
  }
  flush();
  return settings;
}

}  // namespace kv70sim
