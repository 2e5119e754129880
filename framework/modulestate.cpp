// Module states: the process's own, each thread's current one, and the extension
// modules whose resources framework code may use.
#include <algorithm>
#include <mutex>
#include <vector>

#include "framework/afx.h"

namespace {

// Null means the process's own state.
thread_local AFX_MODULE_STATE* tCurrentState = nullptr;

std::mutex gExtensionMutex;

std::vector<HINSTANCE>& ExtensionModules() {
  static std::vector<HINSTANCE> modules;
  return modules;
}

bool Holds(HINSTANCE module, UINT id, int type) {
  return module && platform::FindResource(module, id, type) != nullptr;
}

}  // namespace

AFX_MODULE_STATE* AfxGetAppModuleState() {
  static AFX_MODULE_STATE state;
  return &state;
}

AFX_MODULE_STATE* AfxGetModuleState() {
  return tCurrentState ? tCurrentState : AfxGetAppModuleState();
}

AFX_MAINTAIN_STATE::AFX_MAINTAIN_STATE(AFX_MODULE_STATE* state) : previous_(tCurrentState) {
  tCurrentState = state;
}

AFX_MAINTAIN_STATE::~AFX_MAINTAIN_STATE() {
  tCurrentState = previous_;
}

HINSTANCE AfxGetResourceHandle() {
  return AfxGetModuleState()->m_hCurrentResourceHandle;
}

void AfxSetResourceHandle(HINSTANCE module) {
  AfxGetModuleState()->m_hCurrentResourceHandle = module;
}

HINSTANCE AfxGetInstanceHandle() {
  return AfxGetModuleState()->m_hCurrentInstanceHandle;
}

CWinApp* AfxGetApp() {
  return AfxGetModuleState()->m_pCurrentWinApp;
}

LPCTSTR AfxGetAppName() {
  const AFX_MODULE_STATE* state = AfxGetModuleState();
  if (state->m_lpszCurrentAppName) return state->m_lpszCurrentAppName;
  if (state->m_pCurrentWinApp && state->m_pCurrentWinApp->m_pszAppName) {
    return state->m_pCurrentWinApp->m_pszAppName;
  }
  return "";
}

HINSTANCE AfxFindResourceHandle(UINT id, int type) {
  const HINSTANCE current = AfxGetResourceHandle();
  if (Holds(current, id, type)) return current;
  {
    std::lock_guard lock(gExtensionMutex);
    for (HINSTANCE module : ExtensionModules()) {
      if (Holds(module, id, type)) return module;
    }
  }
  const AFX_MODULE_STATE* app = AfxGetAppModuleState();
  if (Holds(app->m_hCurrentResourceHandle, id, type)) return app->m_hCurrentResourceHandle;
  if (Holds(app->m_hCurrentInstanceHandle, id, type)) return app->m_hCurrentInstanceHandle;
  // Not found anywhere: the current module, where the lookup then fails.
  return current;
}

void AfxRegisterExtensionModule(HINSTANCE module) {
  if (!module) return;
  std::lock_guard lock(gExtensionMutex);
  auto& modules = ExtensionModules();
  if (std::find(modules.begin(), modules.end(), module) == modules.end()) modules.push_back(module);
}

void AfxUnregisterExtensionModule(HINSTANCE module) {
  std::lock_guard lock(gExtensionMutex);
  auto& modules = ExtensionModules();
  modules.erase(std::remove(modules.begin(), modules.end(), module), modules.end());
}
