// Message boxes: handed to the UI backend the host installed, or answered safely.
#include "platform/msgbox.h"

#include <mutex>

namespace platform {

namespace {

std::mutex gMutex;
MessageBoxHandler gHandler;

constexpr UINT MB_ABORTRETRYIGNORE = 0x00000002;
constexpr UINT MB_RETRYCANCEL = 0x00000005;

// Button type, answer given when nobody can be asked: never the one that goes ahead
// with something the user did not agree to.
struct DefaultAnswer {
  UINT type;
  int answer;
};
constexpr DefaultAnswer kDefaults[] = {
    {MB_OK, IDOK},          {MB_OKCANCEL, IDOK}, {MB_ABORTRETRYIGNORE, IDABORT},
    {MB_YESNOCANCEL, IDNO}, {MB_YESNO, IDNO},    {MB_RETRYCANCEL, IDCANCEL},
};

int DefaultButton(UINT style) {
  for (const auto& row : kDefaults) {
    if (row.type == (style & MB_TYPEMASK)) return row.answer;
  }
  return IDOK;
}

}  // namespace

void SetMessageBoxHandler(MessageBoxHandler handler) {
  std::lock_guard lock(gMutex);
  gHandler = std::move(handler);
}

int MessageBox(HWND owner, const char* text, const char* caption, UINT style) {
  MessageBoxHandler handler;
  {
    std::lock_guard lock(gMutex);
    handler = gHandler;
  }
  if (!handler) return DefaultButton(style);
  // Called without the lock: a modal box may take long, and its handler may itself
  // show another box.
  return handler(MessageBoxRequest{owner, text ? text : "", caption ? caption : "", style});
}

}  // namespace platform
