// The simulated device's settings: what the device is (flash type, record contents,
// flash images), how it boots, and which faults it shows. Parsed from "key=value,..."
// (the in-process port name after "sim:") or from kv70sim's options; one table of keys
// serves both and the help text.
#pragma once
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace kv70sim {

// A bad key or value; the message names it.
class SettingsError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// An inclusive range of counts or milliseconds ("3-5", or "7" for 7-7).
struct Range {
  std::uint64_t first = 0;
  std::uint64_t last = 0;
  bool Contains(std::uint64_t v) const { return v >= first && v <= last; }
};

enum class StartState { Boot, Rom, Monitor };
enum class OnOpen { Restart, Keep };
enum class FsFill { Pattern, Erased };

// A text field of the configuration record: absent (the field holds 0xFF) or a text.
struct RecordText {
  bool set = true;
  std::string text;
};

struct Settings {
  // Identity and lifecycle.
  std::string name;  // ports opened with the same name share one device
  OnOpen onOpen = OnOpen::Restart;
  StartState state = StartState::Boot;

  // Boot ROM signalling and timing.
  unsigned breaks = 1;
  std::uint32_t bootMs = 500;  // restart to the first break
  std::uint32_t breakIntervalMs = 1000;
  std::uint32_t turnaroundUs = 100;  // end of a request to the first reply byte
  std::uint32_t frameGapMs = 100;    // silence inside a frame that discards it
  std::uint32_t resetMs = 50;        // reboot reply to the restart

  // What the device is.
  std::uint16_t flashType = 8922;
  std::uint32_t fsMb = 1;
  RecordText serial{true, "KV70-0012345"};
  RecordText owner1{true, "Quarnell Survey"};
  RecordText owner2{true, "Field unit 7"};
  std::uint16_t info0 = 4;
  std::uint16_t info1 = 0xFFFF;
  std::uint16_t info3 = 0xFFFF;
  std::uint16_t appId = 0;
  std::vector<std::uint8_t> options;  // leading bytes of the option area; rest default
  FsFill fsFill = FsFill::Pattern;
  std::string fsImage, progImage, progOut, fsOut;

  // Execution.
  std::uint64_t seed = 1;
  bool realtime = false;

  // Faults.
  std::vector<Range> pullExchanges;       // cable out for these exchanges
  std::vector<Range> pullMs;              // cable out for these ms after the device was made
  unsigned noise = 0;                     // bytes of noise before each monitor reply
  bool foreign = false;                   // a frame for another command before each reply
  std::vector<Range> badChecksum;         // monitor replies (numbered from 1) sent corrupted
  std::vector<Range> lateReply;           // monitor replies (numbered from 1) sent late
  double badChecksumRate = 0.0;           // probability that any monitor reply is corrupted
  std::optional<unsigned> eraseBusy = 3;  // status polls an erase stays busy; none: forever
  bool programRefuseAll = false;
  std::vector<Range> programRefuse;  // program requests (numbered from 1) refused
  bool monitorSilent = false;
  std::uint32_t configLen = 184;

  // Parses "key=value,key=value". Commas and backslashes in a value are written "\," and
  // "\\"; a backslash before anything else stays, as in a Windows path. Throws
  // SettingsError naming the key for an unknown key or a bad value.
  static Settings Parse(std::string_view text);
  // Applies one key=value on top of these settings (repeatable keys add).
  void Apply(std::string_view key, std::string_view value);
};

// One row per key: the name, the value's form and what it does (kv70sim --help).
struct SettingInfo {
  const char* key;
  const char* form;
  const char* help;
};
const std::vector<SettingInfo>& SettingTable();

}  // namespace kv70sim
