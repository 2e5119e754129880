#include "serial/tests/fake_comm.h"

#include <cstdio>
#include <cstdlib>

#include "platform/testing/system_for_tests.h"

namespace serial_test {

namespace {

class FakePort final : public platform::CommPort {
 public:
  explicit FakePort(std::shared_ptr<FakeLine> line) : line_(std::move(line)) {
    ++line_->portsAlive;
  }
  ~FakePort() override {
    line_->calls.push_back("Destroy");
    --line_->portsAlive;
  }

  DWORD GetState(DCB& dcb) override {
    line_->calls.push_back("GetState");
    if (line_->getStateError != ERROR_SUCCESS) return line_->getStateError;
    dcb = line_->state;
    return ERROR_SUCCESS;
  }
  DWORD SetState(const DCB& dcb) override {
    line_->calls.push_back("SetState");
    line_->applied.push_back(dcb);
    if (!line_->setStateErrors.empty()) {
      DWORD error = line_->setStateErrors.front();
      line_->setStateErrors.pop_front();
      if (error != ERROR_SUCCESS) return error;
    }
    line_->state = dcb;
    return ERROR_SUCCESS;
  }
  DWORD SetTimeouts(const COMMTIMEOUTS& timeouts) override {
    line_->calls.push_back("SetTimeouts");
    line_->timeouts.push_back(timeouts);
    return ERROR_SUCCESS;
  }
  DWORD Read(BYTE* buffer, DWORD count, DWORD& read) override {
    line_->calls.push_back("Read");
    read = 0;
    if (line_->reads.empty()) return ERROR_SUCCESS;
    ReadStep& step = line_->reads.front();
    while (read < count && !step.bytes.empty()) {
      buffer[read++] = step.bytes.front();
      step.bytes.erase(step.bytes.begin());
    }
    DWORD error = step.error;
    if (step.bytes.empty()) line_->reads.pop_front();
    return error;
  }
  DWORD Write(const BYTE* buffer, DWORD count, DWORD& written) override {
    line_->calls.push_back("Write");
    written = 0;
    if (line_->writeError != ERROR_SUCCESS) return line_->writeError;
    written = count < line_->writeAccept ? count : line_->writeAccept;
    line_->written.insert(line_->written.end(), buffer, buffer + written);
    if (written < count) platform::SetLastError(line_->writeLastError);
    return ERROR_SUCCESS;
  }
  DWORD Purge(DWORD flags) override {
    char text[16];
    std::snprintf(text, sizeof text, "Purge:%lX", static_cast<unsigned long>(flags));
    line_->calls.push_back(text);
    line_->purges.push_back(flags);
    return ERROR_SUCCESS;
  }
  DWORD SetBreak() override {
    line_->calls.push_back("SetBreak");
    return ERROR_SUCCESS;
  }
  DWORD ClearBreak() override {
    line_->calls.push_back("ClearBreak");
    return ERROR_SUCCESS;
  }
  DWORD ClearError(DWORD& errors) override {
    line_->calls.push_back("ClearError");
    errors = 0;
    if (line_->clearErrorResult != ERROR_SUCCESS) return line_->clearErrorResult;
    if (!line_->lineErrors.empty()) {
      errors = line_->lineErrors.front();
      line_->lineErrors.pop_front();
    }
    return ERROR_SUCCESS;
  }

 private:
  std::shared_ptr<FakeLine> line_;
};

}  // namespace

std::shared_ptr<FakeLine> InstallFakeLine(int portNumber) {
  auto line = std::make_shared<FakeLine>();
  platform::RegisterCommBackend(
      "sim", [line](const std::string&, std::unique_ptr<platform::CommPort>& port) {
        line->calls.push_back("Open");
        if (line->openError != ERROR_SUCCESS) return line->openError;
        port = std::make_unique<FakePort>(line);
        return ERROR_SUCCESS;
      });
  std::string variable = "VELMORA_COM" + std::to_string(portNumber);
  platform_test::SetEnv(variable.c_str(), "sim");
  return line;
}

}  // namespace serial_test
