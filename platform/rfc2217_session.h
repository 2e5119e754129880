// The client's side of a serial line over telnet (RFC 2217), knowing no sockets and no
// clock: fed the bytes that came from the server, it keeps the line's data for the reads,
// answers option requests and notes the server's answers; what it wants sent waits in
// Outgoing() for the transport. The transport waits (for an answer, for data) and says
// when a wait ran out; the session judges what came, in the user's words when it fails.
//
// Servers differ, so the client waits only for what every server answers: the option
// agreement, the four line settings (whose answers are checked) and purges. SET-CONTROL
// answers (flow control, DTR, RTS, break) are neither waited for nor trusted: some
// servers send none, some answer BREAK OFF with the BREAK ON value.
#pragma once
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/comm_port.h"
#include "platform/port_engine.h"
#include "platform/telnet_reader.h"

namespace platform {

class Rfc2217Session {
 public:
  // `maxHeld`: received data kept for the reads; beyond it data is dropped and reported
  // as CE_RXOVER (see kRfc2217MaxHeld).
  explicit Rfc2217Session(std::size_t maxHeld);

  // Bytes to send, in order; the transport sends them and erases what went.
  std::vector<BYTE>& Outgoing() { return out_; }

  // Bytes from the server.
  void Receive(const BYTE* data, std::size_t count);

  // --- The option agreement at the start.
  // Asks for binary both ways and offers the COM-PORT-OPTION; what comes before the
  // server's answer is no line's data.
  void Begin();
  // The server agreed to the option or refused it.
  bool AgreementSettled() const { return comPortAgreed_ || comPortRefused_; }
  // After the wait for the agreement (`answerMs` long at most): ERROR_SUCCESS with the
  // line-state masks queued, else ERROR_NOT_SUPPORTED and why.
  DWORD EndAgreement(std::uint32_t answerMs, std::string& why);
  // Why a server closed the connection during the open, quoting what it said.
  std::string TurnedAway() const;

  // --- Line settings. Only what changed since the last accepted settings is sent (all
  // after a failure), with DTR and RTS; the transport then waits for SettingsAnswered().
  // ERROR_INVALID_PARAMETER for settings this client cannot ask for (flow control is the
  // server's business).
  DWORD BeginSettings(const DCB& dcb);
  bool SettingsAnswered() const;
  // `error`: the transport's failure while sending or waiting; `answered`: whether the
  // wait ended with every answer. ERROR_TIMEOUT without them, ERROR_INVALID_PARAMETER
  // for an answer other than the request (a speed off by more than 2 %).
  DWORD EndSettings(DWORD error, bool answered);
  const DCB& Settings() const { return dcb_; }
  // The open's words for EndSettings' failure with the first settings.
  static std::string SettingsFailure(DWORD error, std::uint32_t answerMs);

  // --- Purges. False when the flags ask for nothing; else the request is queued and
  // received data dropped until the answer (it left the server before the purge did).
  bool BeginPurge(DWORD flags);
  bool PurgeAnswered() const { return answers_[comport::kPurgeData].count > purgeBase_; }
  // A server that does not answer purges must not hold the line up: what came so far
  // is dropped and the rest is taken as new.
  void EndPurge(bool answered);

  void Control(BYTE value) { Command(comport::kSetControl, &value, 1); }

  // --- The line's data and events.
  InputQueue& Input() { return input_; }
  const InputQueue& Input() const { return input_; }
  // CE_* flags since the last call (CE_BREAK for breaks the server notified, CE_RXOVER
  // for data dropped for want of room).
  DWORD TakeErrors();

 private:
  void Command(BYTE command, const BYTE* value, std::size_t length);
  void Option(BYTE verb, BYTE option);
  void OnEvent(const TelnetEvent& event);
  void OnComPort(const ComPortMessage& message);
  void Keep(const BYTE* data, std::size_t count);

  std::vector<BYTE> out_;
  TelnetReader reader_;
  std::vector<BYTE> decoded_;        // scratch for one feed
  std::vector<TelnetEvent> events_;  // scratch for one feed
  InputQueue input_;
  // The first of what the server sent before agreeing to the option: a busy server says
  // why in text ("Port already in use").
  std::string greeting_;

  // Telnet options: what the server agreed to or refused, what we answered.
  bool comPortAgreed_ = false;
  bool comPortRefused_ = false;
  std::array<bool, 256> saidWill_{};
  std::array<bool, 256> saidDo_{};

  // Answers by client command code: how many came, the last value.
  struct Answer {
    std::uint64_t count = 0;
    std::uint32_t value = 0;
  };
  std::array<Answer, comport::kPurgeData + 1> answers_{};

  // The settings asked for and awaited: command, value, answers counted before.
  struct Setting {
    BYTE command;
    std::uint32_t value;
    std::size_t length;
    bool changed;
    std::uint64_t base;
  };
  std::array<Setting, 4> asked_{};
  DCB askedDcb_;
  DCB dcb_;
  bool applied_ = false;  // the server has the line settings of dcb_

  std::uint64_t purgeBase_ = 0;
  bool purgeReceive_ = false;
  // Data that arrives while a receive purge waits for its answer, and data before the
  // option agreement, is dropped.
  bool discarding_ = false;
  bool overrun_ = false;
  std::uint64_t breaks_ = 0;
  std::uint64_t breaksReported_ = 0;
  DWORD lineErrors_ = 0;
};

}  // namespace platform
