// A console for tests: typed input through a pipe, output into a temporary file.
#pragma once
#include <cstdio>
#include <memory>
#include <string>

#include "host/terminal/console.h"
#include "platform/testing/system_for_tests.h"

namespace velmora::testing {

class TestConsole {
 public:
  TestConsole() : output_(std::tmpfile()) {
    if (!platform_test::MakePipe(pipe_)) pipe_[0] = pipe_[1] = -1;
    console_ = std::make_unique<Console>(pipe_[0], output_);
  }
  ~TestConsole() {
    console_.reset();
    if (pipe_[0] >= 0) platform_test::CloseDescriptor(pipe_[0]);
    if (pipe_[1] >= 0) platform_test::CloseDescriptor(pipe_[1]);
    std::fclose(output_);
  }
  TestConsole(const TestConsole&) = delete;
  TestConsole& operator=(const TestConsole&) = delete;

  Console& console() { return *console_; }
  // Queues what the user types (each line with its line end).
  void Type(const std::string& text) { platform_test::WriteDescriptor(pipe_[1], text); }
  // Ends the input, as a closed terminal would.
  void EndInput() {
    platform_test::CloseDescriptor(pipe_[1]);
    pipe_[1] = -1;
  }
  std::string Output() {
    std::fflush(output_);
    std::string text;
    std::rewind(output_);
    char buffer[4096];
    size_t n = 0;
    while ((n = std::fread(buffer, 1, sizeof buffer, output_)) > 0) text.append(buffer, n);
    std::fseek(output_, 0, SEEK_END);
    return text;
  }

 private:
  std::FILE* output_;
  int pipe_[2] = {-1, -1};
  std::unique_ptr<Console> console_;
};

}  // namespace velmora::testing
