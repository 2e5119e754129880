// A serial line whose far end is played by a test: every write the PC makes is handed to
// a responder, which may queue answer bytes; reads return queued bytes at once or, with
// nothing queued, let the read time-out pass on the clock in force and return none.
// Registered as the comm backend of the "sim" prefix (so a program that uses it must not
// link the simulator's in-process backend); the line in force is the latest constructed.
#pragma once
#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "platform/comm_port.h"

namespace kv70test {

using Bytes = std::vector<BYTE>;

class ScriptedLine {
 public:
  using Responder = std::function<void(ScriptedLine& line, const Bytes& written)>;

  // Makes this the line behind "\\.\COM<comPort>" until destroyed.
  explicit ScriptedLine(int comPort = 1);
  ~ScriptedLine();
  ScriptedLine(const ScriptedLine&) = delete;
  ScriptedLine& operator=(const ScriptedLine&) = delete;

  void SetResponder(Responder responder) { responder_ = std::move(responder); }
  // Bytes for the PC to read.
  void Queue(const Bytes& bytes) { incoming_.insert(incoming_.end(), bytes.begin(), bytes.end()); }
  void QueueByte(BYTE b) { incoming_.push_back(b); }
  // A break the PC sees at its next line-error query.
  void RaiseBreak() { breakPending_ = true; }
  // A break that arrives `ms` from now on the clock in force.
  void RaiseBreakAfter(std::uint32_t ms);
  // Later writes fail with this platform error (ERROR_SUCCESS: they succeed again).
  void SetWriteError(DWORD error) { writeError_ = error; }
  DWORD WriteError() const { return writeError_; }

  // What the PC did.
  const std::vector<Bytes>& Writes() const { return writes_; }
  Bytes AllWritten() const;
  const std::vector<DWORD>& Speeds() const { return speeds_; }
  int Purges() const { return purges_; }
  int RxPurges() const { return rxPurges_; }
  const std::vector<DWORD>& BreaksSent() const { return breaksSent_; }
  bool IsOpen() const { return open_; }
  size_t Pending() const { return incoming_.size(); }
  int TimedOutReads() const { return timedOutReads_; }
  // The readers' hints of how many more bytes they need (CommPort::ExpectInput), in order.
  const std::vector<DWORD>& Hints() const { return hints_; }
  void Hint(DWORD count) { hints_.push_back(count); }

  // Backend side, used by the port object.
  void OnOpen() { open_ = true; }
  void OnClose() { open_ = false; }
  DWORD Read(BYTE* buffer, DWORD count);
  void Write(const BYTE* data, DWORD count);
  void Purge(DWORD flags);
  void SetSpeed(DWORD speed) { speeds_.push_back(speed); }
  void SetReadTimeout(DWORD ms) { readTimeoutMs_ = ms; }
  void BreakOn();
  void BreakOff();
  DWORD TakeErrors();

 private:
  Responder responder_;
  std::deque<BYTE> incoming_;
  std::vector<Bytes> writes_;
  std::vector<DWORD> speeds_;
  std::vector<DWORD> breaksSent_;
  std::uint64_t breakStartMs_ = 0;
  DWORD readTimeoutMs_ = 1000;
  int purges_ = 0;
  int rxPurges_ = 0;
  int timedOutReads_ = 0;
  std::vector<DWORD> hints_;
  DWORD writeError_ = ERROR_SUCCESS;
  bool breakPending_ = false;
  std::vector<std::uint64_t> breaksDueMs_;
  bool open_ = false;
  std::string envName_;
};

}  // namespace kv70test
