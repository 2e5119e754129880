// The installed UI backend, the routing of message boxes to it, and the wait cursor.
#include <mutex>

#include "framework/afxwin.h"

namespace {

std::mutex gBackendMutex;
std::shared_ptr<CUiBackend> gBackend;

std::mutex gWaitMutex;
int gWaitDepth = 0;

}  // namespace

void AfxSetUiBackend(std::shared_ptr<CUiBackend> backend) {
  {
    std::lock_guard lock(gBackendMutex);
    gBackend = backend;
  }
  if (backend) {
    // The handler holds the backend, so that a box being shown on another thread keeps
    // it alive while the backend is being replaced.
    platform::SetMessageBoxHandler(
        [backend](const platform::MessageBoxRequest& request) { return backend->MessageBox(request); });
  } else {
    platform::SetMessageBoxHandler(nullptr);
  }
}

std::shared_ptr<CUiBackend> AfxGetUiBackend() {
  std::lock_guard lock(gBackendMutex);
  return gBackend;
}

CUiBackendScope::CUiBackendScope(std::shared_ptr<CUiBackend> backend) : previous_(AfxGetUiBackend()) {
  AfxSetUiBackend(std::move(backend));
}

CUiBackendScope::~CUiBackendScope() { AfxSetUiBackend(std::move(previous_)); }

CWaitCursor::CWaitCursor() {
  bool show = false;
  {
    std::lock_guard lock(gWaitMutex);
    show = gWaitDepth++ == 0;
  }
  if (show) {
    if (auto backend = AfxGetUiBackend()) backend->SetWaitCursor(true);
  }
}

CWaitCursor::~CWaitCursor() {
  bool hide = false;
  {
    std::lock_guard lock(gWaitMutex);
    hide = --gWaitDepth == 0;
  }
  if (hide) {
    if (auto backend = AfxGetUiBackend()) backend->SetWaitCursor(false);
  }
}

void CWaitCursor::Restore() {
  if (AfxGetWaitCursorDepth() == 0) return;
  if (auto backend = AfxGetUiBackend()) backend->SetWaitCursor(true);
}

int AfxGetWaitCursorDepth() {
  std::lock_guard lock(gWaitMutex);
  return gWaitDepth;
}
