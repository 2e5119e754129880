// The RFC 2217 client's protocol: option agreement, line settings, purges, line events
// and the data between them. No I/O: the transport feeds it and sends what it queues.
#include "platform/rfc2217_session.h"

#include <algorithm>

namespace platform {

namespace {

// Line errors the client asks the server to report.
constexpr BYTE kLineStateMask =
    comport::kLineBreak | comport::kLineFraming | comport::kLineParity | comport::kLineOverrun;
// A server that rounds a speed by more than this is refused, as a local port's is.
constexpr DWORD kSpeedTolerancePercent = 2;
// How much of a server's text before the option agreement is kept to quote.
constexpr std::size_t kGreetingKept = 160;

// Parity code, RFC 2217 value.
constexpr BYTE kParityValues[] = {1, 2, 3, 4, 5};  // NOPARITY .. SPACEPARITY
// Stop-bit code, RFC 2217 value.
constexpr BYTE kStopValues[] = {1, 3, 2};  // ONESTOPBIT, ONE5STOPBITS, TWOSTOPBITS

// A server's text as one quotable line: control characters become blanks, runs of
// blanks one, and the ends are trimmed.
std::string Printable(const std::string& text) {
  std::string out;
  for (char c : text) {
    const auto u = static_cast<unsigned char>(c);
    const char shown = u < 0x20 || u == 0x7F ? ' ' : c;
    if (shown == ' ' && (out.empty() || out.back() == ' ')) continue;
    out += shown;
  }
  while (!out.empty() && out.back() == ' ') out.pop_back();
  return out;
}

std::string Ms(std::uint32_t ms) {
  return std::to_string(ms) + " ms";
}

bool Wanted(BYTE option) {
  return option == telnet::kOptBinary || option == telnet::kOptSuppressGoAhead;
}

}  // namespace

Rfc2217Session::Rfc2217Session(std::size_t maxHeld) : input_(maxHeld) {}

void Rfc2217Session::Command(BYTE command, const BYTE* value, std::size_t length) {
  const std::vector<BYTE> bytes = EncodeComPort(command, value, length);
  out_.insert(out_.end(), bytes.begin(), bytes.end());
}

void Rfc2217Session::Option(BYTE verb, BYTE option) {
  out_.insert(out_.end(), {telnet::kIac, verb, option});
}

void Rfc2217Session::Receive(const BYTE* data, std::size_t count) {
  decoded_.clear();
  events_.clear();
  reader_.Feed(data, count, decoded_, events_);
  std::size_t from = 0;
  for (const TelnetEvent& event : events_) {
    Keep(decoded_.data() + from, event.dataBefore - from);
    from = event.dataBefore;
    OnEvent(event);
  }
  Keep(decoded_.data() + from, decoded_.size() - from);
}

void Rfc2217Session::Keep(const BYTE* data, std::size_t count) {
  if (count == 0) return;
  if (discarding_) {
    if (greeting_.size() < kGreetingKept) {
      const std::size_t n = std::min(kGreetingKept - greeting_.size(), count);
      greeting_.append(reinterpret_cast<const char*>(data), n);
    }
    return;
  }
  if (input_.Append(data, count) < count) overrun_ = true;
}

void Rfc2217Session::OnEvent(const TelnetEvent& event) {
  using Kind = TelnetEvent::Kind;
  if (event.kind == Kind::kOption) {
    const BYTE option = event.option;
    // Answer only changes, so that two ends never loop on each other.
    switch (event.verb) {
      case telnet::kDo:
        if (option == telnet::kOptComPort) comPortAgreed_ = true;
        if (!saidWill_[option]) {
          if (Wanted(option)) saidWill_[option] = true;
          Option(Wanted(option) ? telnet::kWill : telnet::kWont, option);
        }
        break;
      case telnet::kDont:
        if (option == telnet::kOptComPort) comPortRefused_ = true;
        if (saidWill_[option]) {
          saidWill_[option] = false;
          Option(telnet::kWont, option);
        }
        break;
      case telnet::kWill:
        if (!saidDo_[option]) {
          if (Wanted(option)) saidDo_[option] = true;
          Option(Wanted(option) ? telnet::kDo : telnet::kDont, option);
        }
        break;
      case telnet::kWont:
        if (saidDo_[option]) {
          saidDo_[option] = false;
          Option(telnet::kDont, option);
        }
        break;
      default:
        break;
    }
    return;
  }
  if (event.kind == Kind::kSubnegotiation && event.option == telnet::kOptComPort) {
    ComPortMessage message;
    if (DecodeComPort(event.payload, message)) OnComPort(message);
  }
  // Refused (over-long or broken) sub-negotiations and other options: nothing to do.
}

void Rfc2217Session::OnComPort(const ComPortMessage& message) {
  if (message.command < comport::kServerOffset) return;  // a client command: not ours
  const BYTE command = static_cast<BYTE>(message.command - comport::kServerOffset);
  if (command == comport::kNotifyLineState) {
    const BYTE state = static_cast<BYTE>(message.value);
    if (state & comport::kLineBreak) ++breaks_;
    if (state & comport::kLineFraming) lineErrors_ |= CE_FRAME;
    if (state & comport::kLineParity) lineErrors_ |= CE_RXPARITY;
    if (state & comport::kLineOverrun) lineErrors_ |= CE_OVERRUN;
    return;
  }
  if (command < answers_.size()) {
    answers_[command].count++;
    answers_[command].value = message.value;
    if (command == comport::kPurgeData) discarding_ = false;
  }
}

void Rfc2217Session::Begin() {
  // Binary both ways, and the COM-PORT-OPTION from our side.
  out_.insert(out_.end(),
              {telnet::kIac, telnet::kWill, telnet::kOptBinary, telnet::kIac, telnet::kDo,
               telnet::kOptBinary, telnet::kIac, telnet::kWill, telnet::kOptComPort});
  saidWill_[telnet::kOptBinary] = saidDo_[telnet::kOptBinary] = true;
  saidWill_[telnet::kOptComPort] = true;
  discarding_ = true;
}

DWORD Rfc2217Session::EndAgreement(std::uint32_t answerMs, std::string& why) {
  discarding_ = false;
  input_.Clear();
  overrun_ = false;
  // A server that refuses the option, or a plain TCP port that never answers, serves no
  // COM port.
  if (comPortRefused_ && !comPortAgreed_) {
    why = "the server does not speak RFC 2217: it refused the COM-PORT-OPTION";
    return ERROR_NOT_SUPPORTED;
  }
  if (!comPortAgreed_) {
    const std::string said = Printable(greeting_);
    why = said.empty() ? "the server does not speak RFC 2217: no telnet COM-PORT-OPTION agreement "
                         "within " +
                             Ms(answerMs) + " (a plain TCP port?)"
                       : "the server does not speak RFC 2217: it answered \"" + said + "\"";
    return ERROR_NOT_SUPPORTED;
  }
  const BYTE mask = kLineStateMask;
  Command(comport::kSetLineStateMask, &mask, 1);
  const BYTE none = 0;
  Command(comport::kSetModemStateMask, &none, 1);
  return ERROR_SUCCESS;
}

std::string Rfc2217Session::TurnedAway() const {
  // ser2net and its kind agree to the option, then turn a second client away with a line
  // of text ("Port already in use") or hang up at once; either way the port is someone
  // else's for now. The text arrives before or after the agreement.
  std::string text = greeting_;
  text.append(reinterpret_cast<const char*>(input_.Data()), input_.Held());
  const std::string said = Printable(text.substr(0, kGreetingKept));
  return said.empty() ? "the server closed the connection at once: it is busy with another "
                        "client (or serves no port here)"
                      : "the server is busy with another client: it said \"" + said + "\"";
}

DWORD Rfc2217Session::BeginSettings(const DCB& dcb) {
  if (dcb.BaudRate == 0 || dcb.ByteSize < 5 || dcb.ByteSize > 8 || dcb.Parity > SPACEPARITY ||
      dcb.StopBits > TWOSTOPBITS || dcb.fOutxDsrFlow || dcb.fOutxCtsFlow || dcb.fOutX || dcb.fInX ||
      dcb.fDtrControl == DTR_CONTROL_HANDSHAKE || dcb.fRtsControl == RTS_CONTROL_HANDSHAKE) {
    // Flow control is the server's business and this client asks for none. The line is
    // in doubt: the next settings send all.
    applied_ = false;
    return ERROR_INVALID_PARAMETER;
  }
  // Only what changed is sent, all at once; the answers are awaited together.
  const bool force = !applied_;
  asked_ = {{
      {comport::kSetBaudRate, dcb.BaudRate, 4, force || dcb.BaudRate != dcb_.BaudRate, 0},
      {comport::kSetDataSize, dcb.ByteSize, 1, force || dcb.ByteSize != dcb_.ByteSize, 0},
      {comport::kSetParity, kParityValues[dcb.Parity], 1, force || dcb.Parity != dcb_.Parity, 0},
      {comport::kSetStopSize, kStopValues[dcb.StopBits], 1, force || dcb.StopBits != dcb_.StopBits,
       0},
  }};
  for (Setting& s : asked_) {
    s.base = answers_[s.command].count;
    if (!s.changed) continue;
    BYTE value[4];
    for (std::size_t k = 0; k < s.length; ++k) {
      value[k] = static_cast<BYTE>(s.value >> (8 * (s.length - 1 - k)));
    }
    Command(s.command, value, s.length);
  }
  // Control lines and flow control: sent, never awaited (see the top of the header).
  if (force) {
    Control(comport::kControlNoFlow);
    Control(comport::kControlInboundNoFlow);
  }
  if (force || dcb.fDtrControl != dcb_.fDtrControl) {
    Control(dcb.fDtrControl == DTR_CONTROL_ENABLE ? comport::kControlDtrOn
                                                  : comport::kControlDtrOff);
  }
  if (force || dcb.fRtsControl != dcb_.fRtsControl) {
    Control(dcb.fRtsControl == RTS_CONTROL_ENABLE ? comport::kControlRtsOn
                                                  : comport::kControlRtsOff);
  }
  askedDcb_ = dcb;
  return ERROR_SUCCESS;
}

bool Rfc2217Session::SettingsAnswered() const {
  for (const Setting& s : asked_) {
    if (s.changed && answers_[s.command].count == s.base) return false;
  }
  return true;
}

DWORD Rfc2217Session::EndSettings(DWORD error, bool answered) {
  applied_ = false;
  if (error != ERROR_SUCCESS) return error;
  if (!answered) return ERROR_TIMEOUT;
  for (const Setting& s : asked_) {
    if (!s.changed) continue;
    const std::uint32_t got = answers_[s.command].value;
    if (s.command == comport::kSetBaudRate) {
      const std::uint32_t diff = got > s.value ? got - s.value : s.value - got;
      if (static_cast<std::uint64_t>(diff) * 100 >
          static_cast<std::uint64_t>(s.value) * kSpeedTolerancePercent) {
        return ERROR_INVALID_PARAMETER;
      }
    } else if (got != s.value) {
      return ERROR_INVALID_PARAMETER;
    }
  }
  dcb_ = askedDcb_;
  applied_ = true;
  return ERROR_SUCCESS;
}

std::string Rfc2217Session::SettingsFailure(DWORD error, std::uint32_t answerMs) {
  if (error == ERROR_TIMEOUT) {
    return "the server did not confirm the line settings within " + Ms(answerMs);
  }
  if (error == ERROR_INVALID_PARAMETER) return "the server refused the line settings 9600 8N1";
  return "setting the line failed (error " + std::to_string(error) + ")";
}

bool Rfc2217Session::BeginPurge(DWORD flags) {
  const bool rx = (flags & (PURGE_RXABORT | PURGE_RXCLEAR)) != 0;
  const bool tx = (flags & (PURGE_TXABORT | PURGE_TXCLEAR)) != 0;
  if (!rx && !tx) return false;
  const BYTE value = rx && tx ? comport::kPurgeBoth
                     : rx     ? comport::kPurgeReceive
                              : comport::kPurgeTransmit;
  purgeBase_ = answers_[comport::kPurgeData].count;
  purgeReceive_ = rx;
  Command(comport::kPurgeData, &value, 1);
  if (rx) {
    // What is held goes now; data up to the answer is dropped as it comes.
    input_.Clear();
    discarding_ = true;
  }
  return true;
}

void Rfc2217Session::EndPurge(bool answered) {
  discarding_ = false;
  if (purgeReceive_ && !answered) input_.Clear();
}

DWORD Rfc2217Session::TakeErrors() {
  DWORD errors = lineErrors_;
  lineErrors_ = 0;
  if (overrun_) errors |= CE_RXOVER;
  overrun_ = false;
  if (breaks_ > breaksReported_) errors |= CE_BREAK;
  breaksReported_ = breaks_;
  return errors;
}

}  // namespace platform
