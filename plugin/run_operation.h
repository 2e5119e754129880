// Runs an operation's body and turns its outcome into a result, the failure box and the
// final status text.
#pragma once
#include "framework/plugin_abi.h"

class COperation;

// OPERATION_SUCCEEDED, OPERATION_FAILED or OPERATION_CANCELED. Failures of the body are
// ended here; a failure while reporting the outcome leaves to the caller.
int RunOperation(COperation* operation, RunRecord* record);
