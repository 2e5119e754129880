// The application object and the start-up and shut-down of a module around it.
#include <cstdlib>
#include <cstring>
#include <string>

#include "framework/afx.h"

IMPLEMENT_DYNAMIC(CWinApp, CObject)

namespace {

// The framework keeps these strings on the C heap, and an application may replace
// them with its own strdup'ed texts, so they are malloc'ed and free'd.
LPCTSTR Duplicate(const char* text) {
  char* copy = ::strdup(text ? text : "");
  if (!copy) AfxThrowMemoryException();
  return copy;
}

void Release(LPCTSTR& text) {
  std::free(const_cast<char*>(text));
  text = nullptr;
}

// "dir/DevKV70.so" -> "DevKV70".
std::string BaseName(const std::string& moduleName) {
  const size_t slash = moduleName.find_last_of("/\\");
  std::string name = slash == std::string::npos ? moduleName : moduleName.substr(slash + 1);
  const size_t dot = name.find_last_of('.');
  if (dot != std::string::npos && dot > 0) name.erase(dot);
  return name;
}

// The module's name, else its file's name, without directory and extension.
std::string DefaultAppName(HINSTANCE module) {
  std::string name = platform::GetModuleName(module);
  if (name.empty()) {
    char path[4096];
    if (platform::GetModuleFileName(module, path, sizeof path) > 0) name = path;
  }
  return BaseName(name);
}

void ResetState(AFX_MODULE_STATE* state) {
  state->m_hCurrentInstanceHandle = nullptr;
  state->m_hCurrentResourceHandle = nullptr;
  state->m_pCurrentWinApp = nullptr;
  state->m_lpszCurrentAppName = nullptr;
}

}  // namespace

CWinApp::CWinApp(LPCTSTR appName) {
  if (appName) m_pszAppName = Duplicate(appName);
}

CWinApp::~CWinApp() {
  Release(m_pszAppName);
  Release(m_pszRegistryKey);
  Release(m_pszProfileName);
}

void CWinApp::SetRegistryKey(LPCTSTR key) {
  LPCTSTR newKey = Duplicate(key);
  LPCTSTR newProfile = nullptr;
  try {
    newProfile = Duplicate(m_pszAppName);
  } catch (...) {
    Release(newKey);
    throw;
  }
  Release(m_pszRegistryKey);
  Release(m_pszProfileName);
  m_pszRegistryKey = newKey;
  m_pszProfileName = newProfile;
}

BOOL AfxDllProcessAttach(AFX_MODULE_STATE* state, CWinApp* app, HINSTANCE module) {
  if (!state || !app) return FALSE;
  try {
    if (!app->m_pszAppName) app->m_pszAppName = Duplicate(DefaultAppName(module).c_str());
  } catch (CException* failure) {
    failure->Delete();
    return FALSE;
  }
  app->m_hInstance = module;
  state->m_hCurrentInstanceHandle = module;
  state->m_hCurrentResourceHandle = module;
  state->m_pCurrentWinApp = app;
  state->m_lpszCurrentAppName = app->m_pszAppName;

  AFX_MAINTAIN_STATE managed(state);
  BOOL started = FALSE;
  try {
    started = app->InitInstance();
  } catch (CException* failure) {
    failure->Delete();
    started = FALSE;
  }
  if (!started) {
    try {
      app->ExitInstance();
    } catch (CException* failure) {
      failure->Delete();
    }
    ResetState(state);
    return FALSE;
  }
  AfxRegisterExtensionModule(module);
  return TRUE;
}

void AfxDllProcessDetach(AFX_MODULE_STATE* state, CWinApp* app) {
  // Only a module whose start-up succeeded is shut down: a failed start-up already ran
  // ExitInstance, and running it twice would free things twice.
  if (!state || !app || state->m_pCurrentWinApp != app) return;
  {
    AFX_MAINTAIN_STATE managed(state);
    try {
      app->ExitInstance();
    } catch (CException* failure) {
      failure->Delete();
    }
  }
  AfxUnregisterExtensionModule(state->m_hCurrentInstanceHandle);
  ResetState(state);
}
