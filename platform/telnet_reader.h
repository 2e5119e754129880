// The client's reader of a telnet stream that carries a serial line (RFC 2217): fed the
// bytes that came from the network, it hands back the line's data bytes and the telnet
// events found between them. It does no I/O and keeps its state between feeds, so a
// command may be split anywhere.
//
// Wire layout (every command starts with IAC = FF):
//   FF FF                         a data byte FF
//   FF FB|FC|FD|FE opt            WILL, WONT, DO, DONT option
//   FF FA opt payload... FF F0    sub-negotiation (FF inside the payload doubled)
//   FF xx                         any other two-byte command (NOP, GA, ...): ignored
// A COM-PORT-OPTION (opt 44) payload is one command byte and its value; the server's
// commands are the client's plus 100.
#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

#include "platform/winbase.h"

namespace platform {

namespace telnet {
constexpr BYTE kIac = 0xFF;
constexpr BYTE kDont = 0xFE;
constexpr BYTE kDo = 0xFD;
constexpr BYTE kWont = 0xFC;
constexpr BYTE kWill = 0xFB;
constexpr BYTE kSb = 0xFA;
constexpr BYTE kSe = 0xF0;

constexpr BYTE kOptBinary = 0;
constexpr BYTE kOptSuppressGoAhead = 3;
constexpr BYTE kOptComPort = 44;
}  // namespace telnet

// COM-PORT-OPTION commands, client to server (the server answers with code + 100).
namespace comport {
constexpr BYTE kSignature = 0;
constexpr BYTE kSetBaudRate = 1;  // 4-byte big-endian bit/s, 0 asks
constexpr BYTE kSetDataSize = 2;  // 5..8, 0 asks
constexpr BYTE kSetParity = 3;    // 1 none, 2 odd, 3 even, 4 mark, 5 space, 0 asks
constexpr BYTE kSetStopSize = 4;  // 1 one, 2 two, 3 one and a half, 0 asks
constexpr BYTE kSetControl = 5;   // values below
constexpr BYTE kNotifyLineState = 6;
constexpr BYTE kNotifyModemState = 7;
constexpr BYTE kFlowControlSuspend = 8;
constexpr BYTE kFlowControlResume = 9;
constexpr BYTE kSetLineStateMask = 10;
constexpr BYTE kSetModemStateMask = 11;
constexpr BYTE kPurgeData = 12;  // 1 receive buffer, 2 transmit buffer, 3 both
constexpr BYTE kServerOffset = 100;

// SET-CONTROL values.
constexpr BYTE kControlNoFlow = 1;
constexpr BYTE kControlBreakOn = 5;
constexpr BYTE kControlBreakOff = 6;
constexpr BYTE kControlDtrOn = 8;
constexpr BYTE kControlDtrOff = 9;
constexpr BYTE kControlRtsOn = 11;
constexpr BYTE kControlRtsOff = 12;
constexpr BYTE kControlInboundNoFlow = 14;

// Line-state bits (NOTIFY-LINESTATE, SET-LINESTATE-MASK).
constexpr BYTE kLineOverrun = 0x02;
constexpr BYTE kLineParity = 0x04;
constexpr BYTE kLineFraming = 0x08;
constexpr BYTE kLineBreak = 0x10;

constexpr BYTE kPurgeReceive = 1;
constexpr BYTE kPurgeTransmit = 2;
constexpr BYTE kPurgeBoth = 3;
}  // namespace comport

struct TelnetEvent {
  enum class Kind {
    kOption,          // verb (WILL, WONT, DO, DONT) and option
    kSubnegotiation,  // option and payload
    kRefused,         // a sub-negotiation over the length limit, or broken off by a
                      // command other than SE: its payload is dropped
  };
  Kind kind = Kind::kOption;
  BYTE verb = 0;
  BYTE option = 0;
  std::vector<BYTE> payload;
  // Data bytes of this feed that came before the event (an index into the feed's output).
  std::size_t dataBefore = 0;
};

class TelnetReader {
 public:
  // Longest sub-negotiation payload taken; a longer one is refused whole. RFC 2217's
  // longest command is SET-BAUDRATE (5 bytes); the limit leaves room for a signature.
  static constexpr std::size_t kMaxSubnegotiation = 64;

  // Decodes `count` bytes: data bytes are appended to `data` (at most `count` of them),
  // completed events to `events`.
  void Feed(const BYTE* in, std::size_t count, std::vector<BYTE>& data,
            std::vector<TelnetEvent>& events);

  // Forgets a half-seen command (a new connection).
  void Reset();

 private:
  enum class State { kData, kIac, kVerb, kSbOption, kSb, kSbIac, kSkip, kSkipIac };
  void OnCommand(BYTE b, std::size_t dataBefore, std::vector<BYTE>& data,
                 std::vector<TelnetEvent>& events);
  void Refuse(std::size_t dataBefore, std::vector<TelnetEvent>& events);

  State state_ = State::kData;
  BYTE verb_ = 0;
  BYTE option_ = 0;
  std::vector<BYTE> payload_;
};

// A COM-PORT-OPTION sub-negotiation decoded: the command code and its value, read as a
// big-endian number of up to four bytes. False for an empty payload.
struct ComPortMessage {
  BYTE command = 0;
  std::uint32_t value = 0;
  std::size_t valueLength = 0;
};
bool DecodeComPort(const std::vector<BYTE>& payload, ComPortMessage& message);

// Builds FF FA 2C command value... FF F0 with FF in the value doubled.
std::vector<BYTE> EncodeComPort(BYTE command, const BYTE* value, std::size_t length);

// Appends `count` data bytes to `out` with every FF doubled.
void EscapeTelnetData(const BYTE* data, std::size_t count, std::vector<BYTE>& out);

}  // namespace platform
