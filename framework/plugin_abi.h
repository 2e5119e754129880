// The contract between a Velmora host and a device plug-in: the seven exported
// functions (C linkage, looked up by name), the run record, the messages a run sends to
// the host window, the results, and the registry settings both sides read. Any host and
// any device plug-in share this header; neither needs the other's.
#pragma once
#include "platform/winbase.h"
#include "platform/window.h"

// Messages to the host window during a run.
constexpr UINT WM_OPERATION_STATUS = WM_USER + 500;    // 1524, sent: lParam = const char* text
constexpr UINT WM_OPERATION_PROGRESS = WM_USER + 501;  // 1525, sent: lParam = percent (not clamped)
constexpr UINT WM_OPERATION_COMPLETE = WM_USER + 503;  // 1527, posted: wParam = lParam = 0

// Results of a run.
constexpr int OPERATION_FAILED = 0;
constexpr int OPERATION_SUCCEEDED = 1;
constexpr int OPERATION_CANCELED = 2;

// The host's record of one run. The window and the event are pointer-sized: on a 64-bit
// system a handle does not fit in 32 bits. The record must stay valid until DoOperation
// returns.
struct RunRecord {
  std::int32_t comPort;         // 1 = COM1; 1..6 accepted
  std::int32_t operationIndex;  // index into the plug-in's operations
  HWND hostWindow;              // receives status, progress and completion messages
  HANDLE cancelEvent;           // manual-reset event the host signals to cancel
};

extern "C" {
// Export names and types, as a host looks them up with dlsym.
using PFN_GetNumberOperations = std::int32_t (*)();
using PFN_GetOperation = std::uint8_t (*)(std::int32_t index, char* buffer, std::uint32_t length);
using PFN_GetDescription = std::uint8_t (*)(std::int32_t index, char* buffer, std::uint32_t length);
using PFN_GetNumberOfPages = std::int32_t (*)(std::int32_t index);
// The page object's address (a framework CPropertyPage*), or 0.
using PFN_GetPage = std::uintptr_t (*)(std::int32_t index, std::int32_t page);
using PFN_GetText = std::uint8_t (*)(std::int32_t index, std::int32_t textIndex, char* buffer,
                                     std::uint32_t length);
using PFN_DoOperation = std::int32_t (*)(RunRecord* record);
}

// The names a host passes to dlsym; a plug-in defines C functions of exactly these names
// and of the types above.
inline constexpr char kExportGetNumberOperations[] = "GetNumberOperations";
inline constexpr char kExportGetOperation[] = "GetOperation";
inline constexpr char kExportGetDescription[] = "GetDescription";
inline constexpr char kExportGetNumberOfPages[] = "GetNumberOfPages";
inline constexpr char kExportGetPage[] = "GetPage";
inline constexpr char kExportGetText[] = "GetText";
inline constexpr char kExportDoOperation[] = "DoOperation";

// The host's machine-wide settings under HKEY_LOCAL_MACHINE: its key, the installation
// directory there (whose "Firmware" directory receives registered firmware files), and
// the firmware catalogue's key, which the host creates and a plug-in never does.
inline constexpr char kHostKeyPath[] = "SOFTWARE\\Quarnell\\Velmora";
inline constexpr char kInstallDirectoryValue[] = "InstallDirectory";
inline constexpr char kFirmwareKeyPath[] = "SOFTWARE\\Quarnell\\Velmora\\Firmware";
