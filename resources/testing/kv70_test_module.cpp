#include "resources/testing/kv70_test_module.h"

#include "framework/afx.h"
#include "resources/resource_table.h"

namespace kv70::testing {

namespace {

HMODULE Module() {
  static const HMODULE module =
      resources::RegisterResourceModule("DevKV70", reinterpret_cast<const void*>(&Module));
  return module;
}

AFX_MODULE_STATE& TestState() {
  static AFX_MODULE_STATE state{Module(), Module(), nullptr, "DevKV70"};
  return state;
}

}  // namespace

HMODULE UseKV70Resources() {
  // Kept for the thread's whole life on purpose: a test thread never goes back to the
  // host's state, and restoring it during thread exit could touch state already gone.
  thread_local AFX_MAINTAIN_STATE* scope = nullptr;
  if (!scope) scope = new AFX_MAINTAIN_STATE(&TestState());
  return Module();
}

}  // namespace kv70::testing
