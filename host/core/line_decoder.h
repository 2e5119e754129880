// The host's own reading of the line: what the bytes a run sent and received say about
// the KV70, decoded from the device's side of the two protocols. It needs nothing from
// the plug-in: a wire trace (wire_trace.h) or a live tap gives it the bytes both ways
// and the line events, and it gives back each frame it recognised and a summary of the
// run (the device's record, what was erased, programmed and read).
//
// A state machine fed bytes; it does no I/O. Feed the two directions in the order they
// crossed the line; each call may carry any part of a frame.
//
// PC to device (boot ROM and its monitor, at 9600 bit/s):
//   probe, raw           05 0A 14 28 00 00                              answered 06
//   frame                02 00 type L payload[L] sum 03 [00 00]
//     sum = (00 + type + L + payload) mod 256; 00 00 follow the bulk frames
//     type 6E identification, L = 0x54 (84 characters)                  no answer
//     type 80 read: address(4) count(1)                                02 00 92 n data sum 03
//     type 81 write: address(4) data                                   06
//     type 82 go: address(4)                                           06
// PC to device (the uploaded flash monitor, at 38400 bit/s):
//   request              02 code nH nL data[n] sH sL 03 00
// Device to PC:
//   reply                02 code nH nL data[n] sH sL 03
//     s = 16-bit wrapping sum of code, nH, nL and the data; n <= 1024
//   codes (request data -> reply data):
//     00 ping         -                              -
//     01 erase        N(1) sector-start(4) x N       01 erasing | 02 refused
//     02 erase status -                              00 busy | 01 finished | 02 failed
//     03 program      address(4) bytes               01 programmed | 00 refused
//     04 reboot       -                              -
//     05 read         address(4) count(2)            count bytes
//     06 read config  -                              the 184-byte configuration record
//     07 garbage      -                              01
//     0A program done -                              01
//     0D erase fs     -                              01 | 02
//
// What is trusted: a frame counts only with its checksum and end byte right; a reply
// counts only for the request before it (same code) and with the length that request
// asks for. Everything else is shown (a bad frame, a reply for another command, a frame
// cut short, bytes that belong to no frame) and never feeds the summary: a field in the
// summary is either what the device sent or absent, never a guess.
#pragma once
#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace velmora {

// A half-open range of device addresses [start, start + length).
struct AddressRange {
  std::uint32_t start = 0;
  std::uint32_t length = 0;
  std::uint64_t End() const { return std::uint64_t{start} + length; }
  bool operator==(const AddressRange&) const = default;
};

// One of the two application entries of the configuration record (option numbers 33 and
// 40): installed when the month index is not 0xFFFF.
struct ApplicationEntry {
  int option = 0;                // 33 or 40
  std::uint16_t monthIndex = 0;  // 1 = January 1997
  std::uint32_t word = 0;        // the entry's 32-bit word, as the device keeps it
  std::uint8_t value = 0;        // the installed software's version value
  bool Installed() const { return monthIndex != 0xFFFF; }
  bool operator==(const ApplicationEntry&) const = default;
};

// The configuration record as the device sent it (184 bytes, numbers big-endian).
struct DeviceRecord {
  static constexpr std::size_t kSize = 184;
  // Texts absent on the device (first byte 0xFF) are nullopt; present ones end at the
  // first NUL or at the field's width.
  std::optional<std::string> serial;
  std::optional<std::string> owner1;
  std::optional<std::string> owner2;
  std::array<std::uint8_t, 62> optionArea{};
  std::vector<int> installedOptions;  // option numbers, ascending
  std::uint16_t info0 = 0, info1 = 0, flashType = 0, info3 = 0, fileSystemMb = 0;
  std::uint16_t applicationId = 0;
  std::vector<ApplicationEntry> applications;  // both entries, installed or not
  std::array<std::uint8_t, kSize> raw{};

  // Decodes exactly kSize bytes.
  static DeviceRecord Decode(std::span<const std::uint8_t, kSize> bytes);
};

// What a run did to the device, from the frames that counted.
struct LineSummary {
  // The boot ROM.
  unsigned breaksReceived = 0;
  unsigned identifications = 0;
  std::optional<bool> readOnlyIdentification;     // the last identification's kind
  bool romMonitorAnswered = false;                // a probe answered
  std::uint32_t monitorBytesWritten = 0;          // ROM-monitor writes to the monitor's RAM
  std::optional<std::uint32_t> monitorStartedAt;  // a go at that address was acknowledged

  // The flash monitor.
  bool monitorAnswered = false;        // any reply to a flash-monitor request
  std::optional<DeviceRecord> record;  // the last configuration record read
  unsigned recordsRead = 0;
  // An erase request went out whole: from then on program flash may be erased, whatever
  // came back. This is what tells that a stopped upgrade left the device without a
  // complete application.
  bool eraseReached = false;
  bool eraseAccepted = false;               // the monitor answered the erase with 01
  bool eraseFinished = false;               // a status poll said finished
  bool eraseFailed = false;                 // refused, or a status poll said failed
  std::vector<AddressRange> eraseRanges;    // sectors asked for, merged (sizes by flash type)
  std::vector<std::uint32_t> eraseSectors;  // the sector starts, in request order
  bool fileSystemEraseReached = false;
  bool garbageCollected = false;
  std::vector<AddressRange> programmed;  // accepted program requests, merged
  unsigned programRefusals = 0;
  bool programDone = false;        // the finishing command answered 01
  std::vector<AddressRange> read;  // answered read requests, merged
  bool rebootSent = false;
  bool rebootAnswered = false;

  // What did not count.
  unsigned badFrames = 0;
  unsigned cutShort = 0;
  std::uint64_t unknownBytes = 0;

  std::uint64_t ReadBytes() const;
  std::uint64_t ProgrammedBytes() const;
};

// One thing the decoder recognised (or could not), in line order.
struct DecodedFrame {
  enum class Kind {
    RomProbe,       // PC: probe
    RomAck,         // device: 06 for the probe or write before it
    RomIdentify,    // PC: identification frame; text in `text`
    RomRead,        // PC: read `count` at `address`
    RomReadReply,   // device: `count` bytes; `matches` whether for the read before it
    RomWrite,       // PC: write `count` bytes at `address`
    RomGo,          // PC: go at `address`
    Request,        // PC: flash-monitor request `code`
    Reply,          // device: reply `code`; `matches` whether for the request before it
    Bad,            // a frame whose checksum or end byte is wrong; `text` says which
    CutShort,       // a frame the line ended before its end
    Unknown,        // bytes that belong to no frame
    BreakSent,      // the PC held a break for `count` ms
    BreakReceived,  // the device sent a break
    Speed,          // the PC's line speed became `count` bit/s
    Note,           // a note in the trace; `text`
  };
  Kind kind = Kind::Unknown;
  bool fromDevice = false;
  std::uint64_t ms = 0;   // when its first byte crossed (trace time)
  std::uint8_t code = 0;  // request/reply code or ROM frame type
  std::uint32_t address = 0;
  std::uint32_t count = 0;
  bool matches = false;                 // replies: answers the request before it
  std::span<const std::uint8_t> bytes;  // the frame's bytes, valid during the call
  std::span<const std::uint8_t> data;   // request/reply data, ROM payload
  std::string text;
  // Replies: what the reply says, when it counted ("accepted", "finished", ...).
  std::string meaning;
  const DeviceRecord* record = nullptr;  // a configuration reply that counted
};

// The name of a flash-monitor command, "" for a code the monitor does not know.
const char* CommandName(std::uint8_t code);

class LineDecoder {
 public:
  using FrameSink = std::function<void(const DecodedFrame&)>;

  // `sink` (may be empty) sees every frame as it is decided.
  explicit LineDecoder(FrameSink sink = {});

  void ToDevice(std::span<const std::uint8_t> bytes, std::uint64_t ms);
  void FromDevice(std::span<const std::uint8_t> bytes, std::uint64_t ms);
  void BreakSent(std::uint32_t heldMs, std::uint64_t ms);
  void BreakReceived(std::uint64_t ms);
  void Speed(std::uint32_t bitsPerSecond, std::uint64_t ms);
  void Note(const std::string& text, std::uint64_t ms);
  // The line is done: what is still pending is decided (cut short or unknown).
  void Finish();

  const LineSummary& Summary() const { return summary_; }

 private:
  struct Stream {
    std::vector<std::uint8_t> bytes;
    std::size_t head = 0;                 // first byte not yet decided
    std::vector<std::uint64_t> lineMs;    // ms of each chunk ...
    std::vector<std::size_t> lineStart;   // ... and where it starts in `bytes`
    std::size_t unknownStart = SIZE_MAX;  // a run of unknown bytes under way
    bool fromDevice = false;
  };
  enum class Parse { NeedMore, NotAFrame, Frame, Bad };

  void Append(Stream& s, std::span<const std::uint8_t> bytes, std::uint64_t ms);
  void Decode(Stream& s, bool final);
  void Settle(Stream& s);  // everything pending is decided, the other side has turned
  Parse ParseAt(const Stream& s, std::size_t at, bool final, std::size_t& length,
                std::string& why) const;
  Parse ParseToDevice(const Stream& s, std::size_t at, bool final, std::size_t& length,
                      std::string& why) const;
  Parse ParseFromDevice(const Stream& s, std::size_t at, bool final, std::size_t& length,
                        std::string& why) const;
  Parse FrameWithin(const Stream& s, std::size_t from, std::size_t to, bool final) const;
  void FlushUnknown(Stream& s, std::size_t end);
  std::uint64_t MsAt(const Stream& s, std::size_t offset) const;

  void OnToDevice(const Stream& s, std::size_t at, std::size_t length);
  void OnFromDevice(const Stream& s, std::size_t at, std::size_t length);
  void Emit(DecodedFrame& frame);

  FrameSink sink_;
  LineSummary summary_;
  Stream toDevice_;
  Stream fromDevice_;

  // The request the next reply answers.
  enum class Expect { Nothing, RomAck, RomRead, Reply };
  Expect expect_ = Expect::Nothing;
  std::uint8_t expectCode_ = 0;
  std::uint32_t expectAddress_ = 0;
  std::uint32_t expectCount_ = 0;
  bool expectProbe_ = false;  // the ack awaited answers a probe
  bool expectGo_ = false;     // ... a go, at pendingGo_
  std::uint32_t pendingGo_ = 0;
  std::uint32_t pendingWrite_ = 0;  // ... a write of this many bytes into monitor RAM
};

// Adds [start, start + length) to `ranges`, kept sorted and merged.
void AddRange(std::vector<AddressRange>& ranges, std::uint32_t start, std::uint32_t length);

}  // namespace velmora
