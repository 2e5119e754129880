// The seven entry points a host finds by name, and the module's load and unload. The
// only file of DevKV70.so outside kv70core, and the only symbols the module exports.
#include <cstdint>
#include <cstring>
#include <exception>
#include <new>
#include <string_view>
#include <type_traits>

#include "framework/afx.h"
#include "framework/afxwin.h"
#include "framework/plugin_abi.h"
#include "operations/operation.h"
#include "platform/module.h"
#include "platform/window.h"
#include "plugin/app.h"
#include "plugin/operation_table.h"
#include "plugin/run_operation.h"
#include "reporting/reporting.h"
#include "resources/resource_table.h"

#ifdef _WIN32
#define KV70_EXPORT extern "C" __declspec(dllexport)
#else
#define KV70_EXPORT extern "C" __attribute__((visibility("default")))
#endif

namespace {

AFX_MODULE_STATE gModuleState;
CDevKV70App* gApp = nullptr;
HMODULE gModule = nullptr;
// False when the start-up failed: every export then refuses its work.
bool gStarted = false;

COperation* OperationAt(std::int32_t index) {
  if (!gStarted || index < 0 || index >= GetOperationCount()) return nullptr;
  return GetOperationAt(index);
}

// A text export that failed hands back the empty text, copied with strncpy semantics.
void ZeroFill(char* buffer, std::uint32_t length) {
  if (buffer && length > 0) std::memset(buffer, 0, length);
}

std::uint8_t CopyToHost(const char* text, char* buffer, std::uint32_t length) {
  if (length > 0) std::strncpy(buffer, text ? text : "", length);
  return 1;
}

// The text exports differ only in which text they copy.
template <typename Copy>
std::uint8_t GuardedText(char* buffer, std::uint32_t length, Copy copy) {
  try {
    return copy();
  } catch (CException* failure) {
    failure->Delete();
  } catch (const std::exception&) {
    // Nothing may unwind into the host, which is not C++.
  }
  ZeroFill(buffer, length);
  return 0;
}

__attribute__((constructor)) void DevKV70ProcessAttach() {
  gModule = kv70::resources::RegisterResourceModule(
      "DevKV70", reinterpret_cast<const void*>(&DevKV70ProcessAttach));
  gApp = new (std::nothrow) CDevKV70App;
  if (!gApp) return;
  gStarted = AfxDllProcessAttach(&gModuleState, gApp, gModule);
}

__attribute__((destructor)) void DevKV70ProcessDetach() {
  if (gApp) {
    AfxDllProcessDetach(&gModuleState, gApp);
    delete gApp;
    gApp = nullptr;
  }
  gStarted = false;
  platform::UnregisterModule(gModule);
  gModule = nullptr;
}

}  // namespace

KV70_EXPORT std::int32_t GetNumberOperations() {
  AFX_MANAGE_STATE(&gModuleState);
  return gStarted ? GetOperationCount() : 0;
}

KV70_EXPORT std::uint8_t GetOperation(std::int32_t index, char* buffer, std::uint32_t length) {
  AFX_MANAGE_STATE(&gModuleState);
  return GuardedText(buffer, length, [&]() -> std::uint8_t {
    COperation* operation = OperationAt(index);
    if (!operation || !buffer) return 0;
    return CopyToHost(operation->GetName(), buffer, length);
  });
}

KV70_EXPORT std::uint8_t GetDescription(std::int32_t index, char* buffer, std::uint32_t length) {
  AFX_MANAGE_STATE(&gModuleState);
  return GuardedText(buffer, length, [&]() -> std::uint8_t {
    COperation* operation = OperationAt(index);
    if (!operation || !buffer) return 0;
    return CopyToHost(operation->GetDescription(), buffer, length);
  });
}

KV70_EXPORT std::int32_t GetNumberOfPages(std::int32_t index) {
  AFX_MANAGE_STATE(&gModuleState);
  COperation* operation = OperationAt(index);
  return operation ? operation->GetPageCount() : 0;
}

KV70_EXPORT std::uintptr_t GetPage(std::int32_t index, std::int32_t page) {
  AFX_MANAGE_STATE(&gModuleState);
  COperation* operation = OperationAt(index);
  if (!operation || page < 0 || page >= operation->GetPageCount()) return 0;
  return reinterpret_cast<std::uintptr_t>(operation->GetPageAt(page));
}

KV70_EXPORT std::uint8_t GetText(std::int32_t index, std::int32_t textIndex, char* buffer,
                                 std::uint32_t length) {
  AFX_MANAGE_STATE(&gModuleState);
  return GuardedText(buffer, length, [&]() -> std::uint8_t {
    COperation* operation = OperationAt(index);
    // Indexes beyond the four texts never reach an operation.
    if (!operation || textIndex < 0 || textIndex >= COperation::TEXT_COUNT || !buffer) return 0;
    return operation->GetText(textIndex, buffer, length) ? 1 : 0;
  });
}

KV70_EXPORT std::int32_t DoOperation(RunRecord* record) {
  AFX_MANAGE_STATE(&gModuleState);
  // Without a record there is neither work nor a window to tell.
  if (!record) return OPERATION_FAILED;
  std::int32_t result = OPERATION_FAILED;
  try {
    // The index is checked before the port.
    if (gStarted && record->operationIndex >= 0 && record->operationIndex < GetOperationCount() &&
        IsValidComPort(record->comPort)) {
      if (COperation* operation = GetOperationAt(record->operationIndex)) {
        result = RunOperation(operation, record);
      }
    }
  } catch (CException* failure) {
    failure->Delete();
    result = OPERATION_FAILED;
  } catch (const std::exception&) {
    result = OPERATION_FAILED;
  }
  platform::PostMessage(record->hostWindow, WM_OPERATION_COMPLETE, 0, 0);
  return result;
}

// A host finds each export by the contract's name alone and calls it through the
// contract's type: a misspelt or mistyped one must not build.
#define KV70_CHECK_EXPORT(name)                                   \
  static_assert(std::string_view(#name) == kExport##name, #name); \
  static_assert(std::is_same_v<decltype(&::name), PFN_##name>, #name)

KV70_CHECK_EXPORT(GetNumberOperations);
KV70_CHECK_EXPORT(GetOperation);
KV70_CHECK_EXPORT(GetDescription);
KV70_CHECK_EXPORT(GetNumberOfPages);
KV70_CHECK_EXPORT(GetPage);
KV70_CHECK_EXPORT(GetText);
KV70_CHECK_EXPORT(DoOperation);
