// Reports from a run to the host window, and the run's cancellation point. Every layer
// below an operation's body reports through these, with the run's record.
#pragma once
#include "framework/plugin_abi.h"

// Sends string `stringId` (empty when there is none) as WM_OPERATION_STATUS and waits
// until the host has handled it.
void SendStatus(const RunRecord* record, UINT stringId);
// The same with a given text.
void SendStatusText(const RunRecord* record, const char* text);
// Sends WM_OPERATION_PROGRESS with the position as given (not clamped to 0..100).
void SendProgress(const RunRecord* record, int position);
// Throws the framework's user-cancel failure when the host has signalled the record's
// cancel event. A failed test of the event counts as not cancelled.
void CheckCancel(const RunRecord* record);
// Asks or tells the user in a message box owned by the run's host window, with the
// module's application name as caption; returns the button the user pressed.
int ShowRunMessage(const RunRecord* record, const char* text, UINT style);
// COM1 to COM6.
bool IsValidComPort(int port);
