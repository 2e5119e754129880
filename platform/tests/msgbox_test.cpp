#include "platform/msgbox.h"

#include <gtest/gtest.h>

namespace platform {
namespace {

TEST(MessageBox, WithoutHandlerGivesTheSafeAnswer) {
  SetMessageBoxHandler(nullptr);
  struct Row {
    UINT style;
    int expected;
  };
  const Row rows[] = {
      {MB_OK, IDOK},          {MB_OK | MB_ICONEXCLAMATION | MB_SETFOREGROUND, IDOK},
      {MB_OKCANCEL, IDOK},    {MB_YESNO | MB_ICONQUESTION, IDNO},
      {MB_YESNOCANCEL, IDNO},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(MessageBox(nullptr, "text", "caption", row.style), row.expected) << row.style;
  }
}

TEST(MessageBox, HandlerSeesTheRequestAndAnswers) {
  MessageBoxRequest seen{};
  SetMessageBoxHandler([&](const MessageBoxRequest& request) {
    seen = request;
    return IDYES;
  });
  HWND owner = reinterpret_cast<HWND>(0x1234);
  EXPECT_EQ(MessageBox(owner, "Really?", "DevKV70", MB_YESNO | MB_ICONQUESTION), IDYES);
  EXPECT_EQ(seen.owner, owner);
  EXPECT_EQ(seen.text, "Really?");
  EXPECT_EQ(seen.caption, "DevKV70");
  EXPECT_EQ(seen.style, MB_YESNO | MB_ICONQUESTION);
  EXPECT_EQ(MessageBox(nullptr, nullptr, nullptr, MB_OK), IDYES);
  EXPECT_EQ(seen.text, "");
  SetMessageBoxHandler(nullptr);
}

}  // namespace
}  // namespace platform
