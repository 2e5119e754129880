// A host window for tests of runs: records, in order, the status texts, progress
// positions and completion messages it receives and the message boxes shown meanwhile
// (answered with OK). The window belongs to the thread that creates the object.
#pragma once
#include <mutex>
#include <string>
#include <vector>

#include "framework/plugin_abi.h"
#include "platform/msgbox.h"
#include "platform/window.h"

namespace kv70::testing {

struct HostEvent {
  enum Kind { Status, Progress, Complete, Box } kind;
  std::string text;      // status text; box text
  LPARAM value = 0;      // progress position
  std::string caption;   // box caption
  UINT style = 0;        // box style
  HWND owner = nullptr;  // box owner

  friend bool operator==(const HostEvent& a, const HostEvent& b) {
    return a.kind == b.kind && a.text == b.text && a.value == b.value && a.caption == b.caption &&
           a.style == b.style && a.owner == b.owner;
  }
};

inline HostEvent MakeEvent(HostEvent::Kind kind, std::string text = {}, LPARAM value = 0) {
  HostEvent e{kind, std::move(text), value, {}, 0, nullptr};
  return e;
}
inline HostEvent StatusEvent(std::string text) {
  return MakeEvent(HostEvent::Status, std::move(text));
}
inline HostEvent ProgressEvent(LPARAM value) {
  return MakeEvent(HostEvent::Progress, {}, value);
}
inline HostEvent CompleteEvent() {
  return MakeEvent(HostEvent::Complete);
}
inline HostEvent BoxEvent(std::string text, std::string caption, UINT style, HWND owner) {
  return {HostEvent::Box, std::move(text), 0, std::move(caption), style, owner};
}

inline void PrintTo(const HostEvent& e, std::ostream* os) {
  static const char* const kinds[] = {"Status", "Progress", "Complete", "Box"};
  *os << kinds[e.kind] << "(\"" << e.text << "\"";
  if (e.kind == HostEvent::Progress) *os << ", " << e.value;
  if (e.kind == HostEvent::Box)
    *os << ", \"" << e.caption << "\", 0x" << std::hex << e.style << std::dec;
  *os << ")";
}

class RecordingHost {
 public:
  RecordingHost() {
    hwnd_ = platform::CreateWindowObject([this](HWND, UINT msg, WPARAM, LPARAM lParam) -> LRESULT {
      switch (msg) {
        case WM_OPERATION_STATUS:
          Add(StatusEvent(reinterpret_cast<const char*>(lParam)));
          return 0;
        case WM_OPERATION_PROGRESS:
          Add(ProgressEvent(lParam));
          return 0;
        case WM_OPERATION_COMPLETE:
          Add(CompleteEvent());
          return 0;
        default:
          return 0;
      }
    });
    platform::SetMessageBoxHandler([this](const platform::MessageBoxRequest& box) {
      Add(BoxEvent(box.text, box.caption, box.style, box.owner));
      return IDOK;
    });
  }
  ~RecordingHost() {
    platform::SetMessageBoxHandler(nullptr);
    platform::DestroyWindowObject(hwnd_);
  }
  RecordingHost(const RecordingHost&) = delete;
  RecordingHost& operator=(const RecordingHost&) = delete;

  HWND hwnd() const { return hwnd_; }

  std::vector<HostEvent> events() const {
    std::lock_guard lock(mutex_);
    return events_;
  }

 private:
  void Add(HostEvent event) {
    std::lock_guard lock(mutex_);
    events_.push_back(std::move(event));
  }

  HWND hwnd_ = nullptr;
  mutable std::mutex mutex_;
  std::vector<HostEvent> events_;
};

}  // namespace kv70::testing
