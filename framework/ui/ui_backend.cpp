// The installed UI backend, the routing of message boxes to it, and the wait cursor.
#include <mutex>

#include "framework/uimodel.h"

namespace {

std::mutex gBackendMutex;
std::shared_ptr<uimodel::Backend> gBackend;

std::mutex gWaitMutex;
int gWaitDepth = 0;

}  // namespace

void uimodel::SetBackend(std::shared_ptr<uimodel::Backend> backend) {
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

std::shared_ptr<uimodel::Backend> uimodel::GetBackend() {
  std::lock_guard lock(gBackendMutex);
  return gBackend;
}

uimodel::BackendScope::BackendScope(std::shared_ptr<uimodel::Backend> backend) : previous_(uimodel::GetBackend()) {
  uimodel::SetBackend(std::move(backend));
}

uimodel::BackendScope::~BackendScope() { uimodel::SetBackend(std::move(previous_)); }

CWaitCursor::CWaitCursor() {
  bool show = false;
  {
    std::lock_guard lock(gWaitMutex);
    show = gWaitDepth++ == 0;
  }
  if (show) {
    if (auto backend = uimodel::GetBackend()) backend->SetWaitCursor(true);
  }
}

CWaitCursor::~CWaitCursor() {
  bool hide = false;
  {
    std::lock_guard lock(gWaitMutex);
    hide = --gWaitDepth == 0;
  }
  if (hide) {
    if (auto backend = uimodel::GetBackend()) backend->SetWaitCursor(false);
  }
}

void CWaitCursor::Restore() {
  if (uimodel::WaitCursorDepth() == 0) return;
  if (auto backend = uimodel::GetBackend()) backend->SetWaitCursor(true);
}

int uimodel::WaitCursorDepth() {
  std::lock_guard lock(gWaitMutex);
  return gWaitDepth;
}
