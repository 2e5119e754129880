// Registered test modules with string tables, and helpers that restore global state
// (message box handler, current module state) when a test ends.
#pragma once
#include <cstring>
#include <string>
#include <vector>

#include "framework/afx.h"

class CoreTestModule {
 public:
  struct Text {
    UINT id;
    const char* text;
  };
  CoreTestModule(const char* name, std::initializer_list<Text> texts) {
    for (const Text& t : texts) table_.push_back({RT_STRING, t.id, t.text, std::strlen(t.text)});
    handle_ = platform::RegisterModule(name, &table_, table_.data(), table_.size());
  }
  ~CoreTestModule() { platform::UnregisterModule(handle_); }
  CoreTestModule(const CoreTestModule&) = delete;
  CoreTestModule& operator=(const CoreTestModule&) = delete;
  HINSTANCE handle() const { return handle_; }

 private:
  std::vector<platform::ResourceEntry> table_;
  HINSTANCE handle_ = nullptr;
};

// Records every message box and answers with a fixed button.
class CoreMessageBoxRecorder {
 public:
  explicit CoreMessageBoxRecorder(int answer = IDOK) {
    platform::SetMessageBoxHandler([this, answer](const platform::MessageBoxRequest& request) {
      boxes.push_back(request);
      return answer;
    });
  }
  ~CoreMessageBoxRecorder() { platform::SetMessageBoxHandler(nullptr); }
  CoreMessageBoxRecorder(const CoreMessageBoxRecorder&) = delete;
  CoreMessageBoxRecorder& operator=(const CoreMessageBoxRecorder&) = delete;

  std::vector<platform::MessageBoxRequest> boxes;
};
