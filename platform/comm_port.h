// Communication ports: one small interface with the Windows semantics the serial class
// relies on, and one backend file per transport behind it (termios for device paths,
// the in-process simulator registered by whoever links it).
//
// Names: "\\.\COM<n>" resolves to the value of the environment variable VELMORA_COM<n>
// when set, else to /dev/ttyS<n-1>. A resolved name "sim" or "sim:key=value,..." goes to
// the backend registered under the prefix "sim"; "rfc2217://HOST:PORT" to the network
// backend (registered as "rfc2217", given "HOST:PORT"); anything else is a device path.
#pragma once
#include <functional>
#include <memory>
#include <string>

#include "winbase.h"

// Parity and stop-bit codes as the platform's line-settings record keeps them.
constexpr BYTE NOPARITY = 0;
constexpr BYTE ODDPARITY = 1;
constexpr BYTE EVENPARITY = 2;
constexpr BYTE MARKPARITY = 3;
constexpr BYTE SPACEPARITY = 4;
constexpr BYTE ONESTOPBIT = 0;
constexpr BYTE ONE5STOPBITS = 1;
constexpr BYTE TWOSTOPBITS = 2;

constexpr BYTE DTR_CONTROL_DISABLE = 0;
constexpr BYTE DTR_CONTROL_ENABLE = 1;
constexpr BYTE DTR_CONTROL_HANDSHAKE = 2;
constexpr BYTE RTS_CONTROL_DISABLE = 0;
constexpr BYTE RTS_CONTROL_ENABLE = 1;
constexpr BYTE RTS_CONTROL_HANDSHAKE = 2;

// Purge flags.
constexpr DWORD PURGE_TXABORT = 0x0001;
constexpr DWORD PURGE_RXABORT = 0x0002;
constexpr DWORD PURGE_TXCLEAR = 0x0004;
constexpr DWORD PURGE_RXCLEAR = 0x0008;

// Line error flags reported (and cleared) by ClearCommError.
constexpr DWORD CE_RXOVER = 0x0001;
constexpr DWORD CE_OVERRUN = 0x0002;
constexpr DWORD CE_RXPARITY = 0x0004;
constexpr DWORD CE_FRAME = 0x0008;
constexpr DWORD CE_BREAK = 0x0010;

constexpr DWORD MAXDWORD = 0xFFFFFFFFu;

// Line settings (the fields of the Windows DCB the serial class uses).
struct DCB {
  DWORD BaudRate = 0;
  BYTE ByteSize = 8;
  BYTE Parity = NOPARITY;
  BYTE StopBits = ONESTOPBIT;
  bool fBinary = true;
  bool fParity = false;
  bool fOutxCtsFlow = false;
  bool fOutxDsrFlow = false;
  BYTE fDtrControl = DTR_CONTROL_DISABLE;
  BYTE fRtsControl = RTS_CONTROL_DISABLE;
  bool fOutX = false;
  bool fInX = false;
  char XonChar = 0x11;
  char XoffChar = 0x13;
  WORD XonLim = 0;
  WORD XoffLim = 0;
};

// Fills a DCB from a mode string such as "9600,n,8,1"; an empty string leaves the
// defaults and succeeds.
BOOL BuildCommDCB(const char* definition, DCB* dcb);

struct COMMTIMEOUTS {
  DWORD ReadIntervalTimeout = 0;
  DWORD ReadTotalTimeoutMultiplier = 0;
  DWORD ReadTotalTimeoutConstant = 0;
  DWORD WriteTotalTimeoutMultiplier = 0;
  DWORD WriteTotalTimeoutConstant = 0;
};

namespace platform {

// An open port. Every call returns a Windows error number (ERROR_SUCCESS on success).
//
// Read follows the time-outs in force. The one combination the plug-in uses is
// ReadIntervalTimeout = ReadTotalTimeoutMultiplier = MAXDWORD with a constant C > 0:
// return at once with what is waiting (up to `count`); else wait up to C ms for the
// first byte and return it and whatever arrived with it; else return 0 bytes.
// A time-out is not an error: it is a short count with ERROR_SUCCESS.
// Write returns when every byte has been handed to the line or the write time-out
// (multiplier x count + constant; 0 and 0 mean no limit) passed, with the count
// written; a short count with ERROR_SUCCESS means the time-out passed.
class CommPort {
 public:
  virtual ~CommPort() = default;
  virtual DWORD GetState(DCB& dcb) = 0;
  virtual DWORD SetState(const DCB& dcb) = 0;
  virtual DWORD SetTimeouts(const COMMTIMEOUTS& timeouts) = 0;
  virtual DWORD Read(BYTE* buffer, DWORD count, DWORD& read) = 0;
  virtual DWORD Write(const BYTE* buffer, DWORD count, DWORD& written) = 0;
  virtual DWORD Purge(DWORD flags) = 0;
  virtual DWORD SetBreak() = 0;
  virtual DWORD ClearBreak() = 0;
  // Reports the line's error flags since the last call and clears them (CE_BREAK for a
  // break received).
  virtual DWORD ClearError(DWORD& errors) = 0;
  // How many received bytes the port holds, which the next read takes without waiting;
  // 0 when the backend does not say.
  virtual DWORD Held() const { return 0; }
  // A hint from the reader: it needs `count` more bytes before it can go on (0: no
  // hint). A backend that pays for every wake-up may then wait for them together; the
  // reads' time-outs stay as they are.
  virtual void ExpectInput(DWORD count) {}
};

// Creates a port for a resolved name (after the "sim" prefix and its ':', if any).
using CommBackendFactory =
    std::function<DWORD(const std::string& settings, std::unique_ptr<CommPort>& port)>;

// Registers the backend for names "prefix" and "prefix:...". Replaces an earlier one,
// which is returned (so that a test can put it back); a null factory removes the backend.
CommBackendFactory RegisterCommBackend(const std::string& prefix, CommBackendFactory factory);

// "\\.\COM3" -> value of VELMORA_COM3, or "/dev/ttyS2". Other names are returned as
// they are.
std::string ResolveCommName(const std::string& name);

// "HOST:PORT" when `name` resolves to a network port ("rfc2217://HOST:PORT", the scheme in
// any letter case); empty otherwise.
std::string NetworkPortAddress(const std::string& name);

// The system's own device for port `number` (name is "\\.\COM<number>"), given by the
// port backend: /dev/ttyS<number-1> on Linux, the name itself on Windows.
std::string SystemCommDevice(const std::string& name, unsigned number);

// Opens a port for exclusive use. On failure `port` stays null and the Windows error
// number is returned (2: no such port, 5: in use or no right, ...).
DWORD OpenCommPort(const std::string& name, std::unique_ptr<CommPort>& port);

// Why a port last failed, in the user's words, for a host to show beside the plug-in's
// message (which gives only an error number): its open ("/dev/ttyUSB0 is in use by
// process 4242 (minicom)"), or a network port's connection during the run
// ("rfc2217://10.0.0.5:2217: the server closed the connection"). A successful open
// forgets what an earlier one left.
struct CommPortProblem {
  std::string text;         // names the port as it resolved; empty: nothing to say
  bool noSuchPort = false;  // the path names nothing at all (a host may list the ports)
};
// The problem of the port `name` resolves to (as OpenCommPort resolves it).
CommPortProblem LastCommPortProblem(const std::string& name);

// For backends: records the problem of the port whose resolved name is `resolved`, puts
// it in the wire trace as a note ("open-failed TEXT" or "port-failed TEXT") and hands it
// to the listener in force.
void ReportCommPortProblem(const std::string& resolved, const CommPortProblem& problem,
                           bool atOpen);

// Told of every problem as a backend reports it, on the thread that met it (the run's):
// a front end shows it at once, before the plug-in's failure box. Null removes it;
// returns the one it replaces.
using CommProblemListener = std::function<void(const std::string& text)>;
CommProblemListener SetCommProblemListener(CommProblemListener listener);

// The wire trace: every byte on the line as it crosses, and the line events. A tap, when
// installed, sees every port opened after it (the port is wrapped in a tracing port).
class WireTap {
 public:
  virtual ~WireTap() = default;
  virtual void OnWrite(const BYTE* data, DWORD count) = 0;  // PC to device
  virtual void OnRead(const BYTE* data, DWORD count) = 0;   // device to PC
  virtual void OnBreakSent(DWORD ms) = 0;                   // break held this long
  virtual void OnBreakReceived() = 0;
  virtual void OnSpeed(DWORD bitsPerSecond) = 0;  // a new line speed
  // Something that never crosses the line but explains what does (which monitor image a
  // run uploads, say). One line of text; a tap that keeps no notes ignores it.
  virtual void OnNote(const std::string& text) {}
};
// Installs the tap (null removes it). The caller keeps ownership.
void SetWireTap(WireTap* tap);
// Hands `text` to the tap in force, if any, as a note.
void NoteOnWire(const std::string& text);

}  // namespace platform
