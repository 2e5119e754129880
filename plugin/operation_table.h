// The operation table: the three operations in their fixed order, built when the
// module starts and destroyed when it stops. Between those points it is only read.
#pragma once
#include <span>

#include "platform/winbase.h"

class COperation;

using OperationFactory = COperation* (*)();

// Builds the table from the plug-in's three operations. FALSE (and an empty
// table) when memory runs out.
BOOL BuildOperationTable();
// The same from given factories, in order (the tests' way to provoke the failure path).
BOOL BuildOperationTable(std::span<const OperationFactory> factories);
// Deletes every operation (and with it its pages) and empties the table.
void DestroyOperationTable();

int GetOperationCount();
// The operation at `index`, or null when the index is out of range or the slot is empty.
COperation* GetOperationAt(int index);
