#include "protocol/testing/scripted_line.h"

#include <algorithm>
#include <cstdlib>
#include <memory>

#include "platform/clock.h"
#include "platform/testing/system_for_tests.h"

namespace kv70test {

namespace {

ScriptedLine* gLine = nullptr;

class ScriptedPort final : public platform::CommPort {
 public:
  explicit ScriptedPort(ScriptedLine& line) : line_(line) { line_.OnOpen(); }
  ~ScriptedPort() override {
    if (gLine == &line_) line_.OnClose();
  }
  DWORD GetState(DCB& dcb) override {
    dcb = dcb_;
    return ERROR_SUCCESS;
  }
  DWORD SetState(const DCB& dcb) override {
    if (dcb.BaudRate != dcb_.BaudRate) line_.SetSpeed(dcb.BaudRate);
    dcb_ = dcb;
    return ERROR_SUCCESS;
  }
  DWORD SetTimeouts(const COMMTIMEOUTS& t) override {
    line_.SetReadTimeout(t.ReadTotalTimeoutConstant);
    return ERROR_SUCCESS;
  }
  DWORD Read(BYTE* buffer, DWORD count, DWORD& read) override {
    read = line_.Read(buffer, count);
    return ERROR_SUCCESS;
  }
  DWORD Write(const BYTE* buffer, DWORD count, DWORD& written) override {
    if (line_.WriteError() != ERROR_SUCCESS) {
      written = 0;
      return line_.WriteError();
    }
    line_.Write(buffer, count);
    written = count;
    return ERROR_SUCCESS;
  }
  DWORD Purge(DWORD flags) override {
    line_.Purge(flags);
    return ERROR_SUCCESS;
  }
  DWORD SetBreak() override {
    line_.BreakOn();
    return ERROR_SUCCESS;
  }
  DWORD ClearBreak() override {
    line_.BreakOff();
    return ERROR_SUCCESS;
  }
  DWORD ClearError(DWORD& errors) override {
    errors = line_.TakeErrors();
    return ERROR_SUCCESS;
  }
  void ExpectInput(DWORD count) override { line_.Hint(count); }

 private:
  ScriptedLine& line_;
  DCB dcb_;
};

}  // namespace

ScriptedLine::ScriptedLine(int comPort) : envName_("VELMORA_COM" + std::to_string(comPort)) {
  // Port names reach a backend other than the device paths' only through the "sim"
  // prefix; a test program that plays the line itself has no simulator to displace.
  platform::RegisterCommBackend(
      "sim", [](const std::string&, std::unique_ptr<platform::CommPort>& port) -> DWORD {
        if (!gLine) return ERROR_FILE_NOT_FOUND;
        port = std::make_unique<ScriptedPort>(*gLine);
        return ERROR_SUCCESS;
      });
  platform_test::SetEnv(envName_.c_str(), "sim:scripted");
  gLine = this;
}

ScriptedLine::~ScriptedLine() {
  if (gLine == this) gLine = nullptr;
  platform_test::UnsetEnv(envName_.c_str());
}

Bytes ScriptedLine::AllWritten() const {
  Bytes all;
  for (const auto& w : writes_) all.insert(all.end(), w.begin(), w.end());
  return all;
}

DWORD ScriptedLine::Read(BYTE* buffer, DWORD count) {
  if (incoming_.empty()) {
    ++timedOutReads_;
    platform::GetClock().SleepMs(readTimeoutMs_);
    return 0;
  }
  DWORD n = 0;
  while (n < count && !incoming_.empty()) {
    buffer[n++] = incoming_.front();
    incoming_.pop_front();
  }
  return n;
}

void ScriptedLine::Write(const BYTE* data, DWORD count) {
  writes_.emplace_back(data, data + count);
  if (responder_) responder_(*this, writes_.back());
}

void ScriptedLine::Purge(DWORD flags) {
  ++purges_;
  if (flags & (PURGE_RXABORT | PURGE_RXCLEAR)) {
    ++rxPurges_;
    incoming_.clear();
  }
}

void ScriptedLine::BreakOn() {
  breakStartMs_ = platform::GetClock().NowMs();
}

void ScriptedLine::BreakOff() {
  breaksSent_.push_back(static_cast<DWORD>(platform::GetClock().NowMs() - breakStartMs_));
}

void ScriptedLine::RaiseBreakAfter(std::uint32_t ms) {
  breaksDueMs_.push_back(platform::GetClock().NowMs() + ms);
}

DWORD ScriptedLine::TakeErrors() {
  const std::uint64_t now = platform::GetClock().NowMs();
  const auto due = std::remove_if(breaksDueMs_.begin(), breaksDueMs_.end(),
                                  [now](std::uint64_t at) { return at <= now; });
  if (due != breaksDueMs_.end()) {
    breakPending_ = true;
    breaksDueMs_.erase(due, breaksDueMs_.end());
  }
  DWORD errors = breakPending_ ? CE_BREAK : 0;
  breakPending_ = false;
  return errors;
}

}  // namespace kv70test
