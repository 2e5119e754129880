// Message boxes with Windows style bits and results, routed to whatever UI backend the
// host installed (terminal, scripted test backend, a desktop one later).
#pragma once
#include <functional>
#include <string>

#include "winbase.h"

constexpr UINT MB_OK = 0x00000000;
constexpr UINT MB_OKCANCEL = 0x00000001;
constexpr UINT MB_YESNOCANCEL = 0x00000003;
constexpr UINT MB_YESNO = 0x00000004;
constexpr UINT MB_TYPEMASK = 0x0000000F;
constexpr UINT MB_ICONERROR = 0x00000010;
constexpr UINT MB_ICONQUESTION = 0x00000020;
constexpr UINT MB_ICONEXCLAMATION = 0x00000030;
constexpr UINT MB_ICONINFORMATION = 0x00000040;
constexpr UINT MB_ICONMASK = 0x000000F0;
constexpr UINT MB_DEFBUTTON1 = 0x00000000;
constexpr UINT MB_DEFBUTTON2 = 0x00000100;
constexpr UINT MB_DEFBUTTON3 = 0x00000200;
constexpr UINT MB_DEFMASK = 0x00000F00;
constexpr UINT MB_SETFOREGROUND = 0x00010000;

constexpr int IDOK = 1;
constexpr int IDCANCEL = 2;
constexpr int IDABORT = 3;
constexpr int IDRETRY = 4;
constexpr int IDIGNORE = 5;
constexpr int IDYES = 6;
constexpr int IDNO = 7;

namespace platform {

struct MessageBoxRequest {
  HWND owner;  // may be null
  std::string text;
  std::string caption;
  UINT style;
};

// Returns the button pressed (IDOK, IDYES, ...).
using MessageBoxHandler = std::function<int(const MessageBoxRequest&)>;

// Installs the handler (null: message boxes answer IDOK for MB_OK/MB_OKCANCEL and IDNO
// for questions, and print nothing: the safe answer when nobody can be asked).
void SetMessageBoxHandler(MessageBoxHandler handler);

int MessageBox(HWND owner, const char* text, const char* caption, UINT style);

}  // namespace platform
