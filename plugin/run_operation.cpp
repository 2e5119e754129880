#include "plugin/run_operation.h"

#include <new>

#include "framework/afx.h"
#include "operations/operation.h"
#include "reporting/failure_box.h"
#include "reporting/reporting.h"
#include "resources/resource.h"

namespace {
constexpr UINT kTextBufferSize = 256;

// The failure box with the failure's own text, 254 characters at most.
void ShowFailure(CException& failure, const RunRecord* record) {
  char message[kTextBufferSize] = {};
  failure.GetErrorMessage(message, kTextBufferSize - 1, nullptr);
  ShowFailureMessage(message, record->hostWindow);
}
}  // namespace

int RunOperation(COperation* operation, RunRecord* record) {
  int result = OPERATION_FAILED;
  UINT finalStatusId = 0;
  char completion[kTextBufferSize] = {};

  try {
    if (operation->Execute(record)) {
      result = OPERATION_SUCCEEDED;
      operation->GetText(COperation::TEXT_COMPLETION, completion, kTextBufferSize - 1);
    }
  } catch (CUserException* cancel) {
    // Tried first: the user-cancel failure belongs to the general family too.
    cancel->Delete();
    finalStatusId = IDS_OPERATION_CANCELED;
    result = OPERATION_CANCELED;
  } catch (CException* failure) {
    // The failure object stays alive while the box is up and is ended even if showing
    // it fails.
    struct Ender {
      CException* failure;
      ~Ender() { failure->Delete(); }
    } ender{failure};
    ShowFailure(*failure, record);
    finalStatusId = IDS_OPERATION_FAILED;
    result = OPERATION_FAILED;
  } catch (const std::bad_alloc&) {
    // Memory exhaustion thrown the standard way (by an allocation in the framework's
    // containers and strings) is the framework's memory failure, with its text.
    CMemoryException memory;
    memory.m_bAutoDelete = FALSE;
    ShowFailure(memory, record);
    finalStatusId = IDS_OPERATION_FAILED;
    result = OPERATION_FAILED;
  }

  if (result == OPERATION_SUCCEEDED) {
    SendStatusText(record, completion);
  } else if (finalStatusId != 0) {
    SendStatus(record, finalStatusId);
  }
  return result;
}
