// Windows and messages with Windows semantics, headless.
//
// A window belongs to the thread that created it. SendMessage from that thread calls
// the window procedure directly; from any other thread it queues the message and waits
// until the owning thread has handled it (while waiting, it still handles messages
// sent to the waiting thread's own windows, as Windows does). PostMessage queues and
// returns. The owning thread handles queued messages when it pumps.
#pragma once
#include <functional>
#include <string>

#include "winbase.h"

constexpr UINT WM_NULL = 0x0000;
constexpr UINT WM_DESTROY = 0x0002;
constexpr UINT WM_SETTEXT = 0x000C;
constexpr UINT WM_PAINT = 0x000F;
constexpr UINT WM_CLOSE = 0x0010;
constexpr UINT WM_QUIT = 0x0012;
constexpr UINT WM_SETREDRAW = 0x000B;
constexpr UINT WM_KEYDOWN = 0x0100;
constexpr UINT WM_INITDIALOG = 0x0110;
constexpr UINT WM_COMMAND = 0x0111;
constexpr UINT WM_VKEYTOITEM = 0x002E;
constexpr UINT WM_USER = 0x0400;

namespace platform {

using WindowProc = std::function<LRESULT(HWND, UINT, WPARAM, LPARAM)>;

// Creates a window owned by the calling thread. Never returns null.
HWND CreateWindowObject(WindowProc proc, const std::string& text = {});
// Destroys it; queued messages for it are dropped; later sends return 0, and a thread
// waiting in a send to it returns 0. The procedure is not called with WM_DESTROY.
void DestroyWindowObject(HWND hwnd);
bool IsWindow(HWND hwnd);

LRESULT SendMessage(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
BOOL PostMessage(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);

// Handles the messages queued for windows of the calling thread: messages sent from
// other threads first, then posted ones. With wait, blocks (in real time) until at least
// one message was handled or timeoutMs passed (INFINITE: no limit). Returns the number
// of messages handled.
int PumpMessages(bool wait = false, DWORD timeoutMs = INFINITE);
// Wakes a thread blocked in PumpMessages(wait=true) on behalf of `hwnd`'s owner.
void WakeWindowThread(HWND hwnd);

// The caption is kept with the window (no WM_SETTEXT goes to the procedure); any thread
// may set or read it.
BOOL SetWindowText(HWND hwnd, const char* text);
std::string GetWindowText(HWND hwnd);

}  // namespace platform
