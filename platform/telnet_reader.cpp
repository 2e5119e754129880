// The telnet and COM-PORT-OPTION reader: a byte-fed state machine, no I/O.
#include "platform/telnet_reader.h"

namespace platform {

void TelnetReader::Reset() {
  state_ = State::kData;
  payload_.clear();
}

void TelnetReader::Refuse(std::size_t dataBefore, std::vector<TelnetEvent>& events) {
  TelnetEvent event;
  event.kind = TelnetEvent::Kind::kRefused;
  event.option = option_;
  event.dataBefore = dataBefore;
  events.push_back(std::move(event));
  payload_.clear();
}

// The byte after an IAC outside a sub-negotiation.
void TelnetReader::OnCommand(BYTE b, std::size_t dataBefore, std::vector<BYTE>& data,
                             std::vector<TelnetEvent>& events) {
  (void)dataBefore;
  (void)events;
  switch (b) {
    case telnet::kIac:
      data.push_back(telnet::kIac);
      state_ = State::kData;
      break;
    case telnet::kWill:
    case telnet::kWont:
    case telnet::kDo:
    case telnet::kDont:
      verb_ = b;
      state_ = State::kVerb;
      break;
    case telnet::kSb:
      state_ = State::kSbOption;
      break;
    default:  // NOP, GA, a stray SE, ...: nothing for a serial line
      state_ = State::kData;
      break;
  }
}

void TelnetReader::Feed(const BYTE* in, std::size_t count, std::vector<BYTE>& data,
                        std::vector<TelnetEvent>& events) {
  const std::size_t base = data.size();
  for (std::size_t i = 0; i < count; ++i) {
    const BYTE b = in[i];
    const std::size_t before = data.size() - base;
    switch (state_) {
      case State::kData:
        if (b == telnet::kIac) {
          state_ = State::kIac;
        } else {
          data.push_back(b);
        }
        break;
      case State::kIac:
        OnCommand(b, before, data, events);
        break;
      case State::kVerb: {
        TelnetEvent event;
        event.kind = TelnetEvent::Kind::kOption;
        event.verb = verb_;
        event.option = b;
        event.dataBefore = before;
        events.push_back(std::move(event));
        state_ = State::kData;
        break;
      }
      case State::kSbOption:
        option_ = b;
        payload_.clear();
        state_ = State::kSb;
        break;
      case State::kSb:
        if (b == telnet::kIac) {
          state_ = State::kSbIac;
        } else if (payload_.size() < kMaxSubnegotiation) {
          payload_.push_back(b);
        } else {
          payload_.clear();
          state_ = State::kSkip;
        }
        break;
      case State::kSbIac:
        if (b == telnet::kIac) {
          if (payload_.size() < kMaxSubnegotiation) {
            payload_.push_back(b);
            state_ = State::kSb;
          } else {
            payload_.clear();
            state_ = State::kSkip;
          }
        } else if (b == telnet::kSe) {
          TelnetEvent event;
          event.kind = TelnetEvent::Kind::kSubnegotiation;
          event.option = option_;
          event.payload = std::move(payload_);
          event.dataBefore = before;
          events.push_back(std::move(event));
          payload_.clear();
          state_ = State::kData;
        } else {
          // Another command inside a sub-negotiation breaks it off; the command counts.
          Refuse(before, events);
          OnCommand(b, before, data, events);
        }
        break;
      case State::kSkip:
        if (b == telnet::kIac) state_ = State::kSkipIac;
        break;
      case State::kSkipIac:
        if (b == telnet::kIac) {
          state_ = State::kSkip;
        } else if (b == telnet::kSe) {
          Refuse(before, events);
          state_ = State::kData;
        } else {
          Refuse(before, events);
          OnCommand(b, before, data, events);
        }
        break;
    }
  }
}

bool DecodeComPort(const std::vector<BYTE>& payload, ComPortMessage& message) {
  if (payload.empty()) return false;
  message = ComPortMessage{};
  message.command = payload[0];
  message.valueLength = payload.size() - 1;
  for (std::size_t i = 1; i < payload.size() && i <= 4; ++i) {
    message.value = (message.value << 8) | payload[i];
  }
  return true;
}

void EscapeTelnetData(const BYTE* data, std::size_t count, std::vector<BYTE>& out) {
  for (std::size_t i = 0; i < count; ++i) {
    out.push_back(data[i]);
    if (data[i] == telnet::kIac) out.push_back(telnet::kIac);
  }
}

std::vector<BYTE> EncodeComPort(BYTE command, const BYTE* value, std::size_t length) {
  std::vector<BYTE> out = {telnet::kIac, telnet::kSb, telnet::kOptComPort};
  EscapeTelnetData(&command, 1, out);
  EscapeTelnetData(value, length, out);
  out.push_back(telnet::kIac);
  out.push_back(telnet::kSe);
  return out;
}

}  // namespace platform
