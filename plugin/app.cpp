#include "plugin/app.h"

#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>

#include "platform/module.h"
#include "plugin/operation_table.h"
#include "reporting/failure_box.h"
#include "resources/resource.h"

IMPLEMENT_DYNAMIC(CDevKV70App, CWinApp)

namespace {

constexpr const char kRegistryKey[] = "QUARNELL\\Velmora";
constexpr const char kProfileName[] = "BDDevice";
constexpr const char kProductVersionKey[] = "\\StringFileInfo\\040904B0\\ProductVersion";

// Room for any path the loader can report; a cut path could name another file.
constexpr DWORD kModulePathSize = 4096;

}  // namespace

CDevKV70App::CDevKV70App() : CWinApp(nullptr) {}

BOOL CDevKV70App::InitInstance() {
  try {
    SetRegistryKey(kRegistryKey);

    // The framework keeps the profile name on the C heap.
    char* profile = ::strdup(kProfileName);
    if (!profile) AfxThrowMemoryException();
    std::free(const_cast<char*>(m_pszProfileName));
    m_pszProfileName = profile;

    ReadProductVersion();
    SetFailureBoxVersion(m_version);
    if (!BuildOperationTable()) return FALSE;
    return CWinApp::InitInstance();
  } catch (CMemoryException* failure) {
    failure->Delete();
  } catch (const std::bad_alloc&) {
  }
  return FALSE;
}

int CDevKV70App::ExitInstance() {
  DestroyOperationTable();
  SetFailureBoxVersion("");
  return CWinApp::ExitInstance();
}

void CDevKV70App::ReadProductVersion() {
  m_version.Empty();

  char path[kModulePathSize];
  DWORD pathLength = platform::GetModuleFileName(AfxGetInstanceHandle(), path, sizeof path);
  if (pathLength == 0 || pathLength >= sizeof path - 1) return;

  DWORD handle = 0;
  DWORD size = platform::GetFileVersionInfoSize(path, &handle);
  if (size == 0) return;
  std::unique_ptr<char[]> block(new (std::nothrow) char[size]);
  if (!block) return;
  if (!platform::GetFileVersionInfo(path, handle, size, block.get())) return;

  void* value = nullptr;
  UINT length = 0;
  if (platform::VerQueryValue(block.get(), kProductVersionKey, &value, &length) && value) {
    m_version = static_cast<const char*>(value);
  }
}

void CDevKV70App::ShowFailureMessage(const char* text, HWND owner) {
  ShowFailureBox(m_version, text, owner, m_pszAppName ? m_pszAppName : AfxGetAppName());
}
