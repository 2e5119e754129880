#include "plugin/operation_table.h"

#include <new>

#include "framework/afx.h"
#include "operations/config_retrieval_operation.h"
#include "operations/file_system_dump_operation.h"
#include "operations/operation.h"
#include "operations/software_upgrade_operation.h"

namespace {

constexpr int kGrowBy = 9;

CPtrArray gOperations;
int gOperationCount = 0;

COperation* NewSoftwareUpgrade() {
  return new CSoftwareUpgradeOperation;
}
COperation* NewConfigRetrieval() {
  return new CConfigRetrievalOperation;
}
COperation* NewFileSystemDump() {
  return new CFileSystemDumpOperation;
}

// Table order is the host's operation index.
constexpr OperationFactory kOperations[] = {NewSoftwareUpgrade, NewConfigRetrieval,
                                            NewFileSystemDump};

// Deletes what the array holds, whether or not the count was set yet.
void DeleteAll() {
  for (int i = 0; i < gOperations.GetSize(); ++i) delete static_cast<COperation*>(gOperations[i]);
  gOperations.RemoveAll();
  gOperationCount = 0;
}

}  // namespace

BOOL BuildOperationTable() {
  return BuildOperationTable(kOperations);
}

BOOL BuildOperationTable(std::span<const OperationFactory> factories) {
  try {
    gOperations.SetSize(0, kGrowBy);
    for (OperationFactory create : factories) {
      COperation* operation = create();
      try {
        gOperations.Add(operation);
      } catch (...) {
        delete operation;
        throw;
      }
    }
    gOperationCount = gOperations.GetSize();
    return TRUE;
  } catch (CMemoryException* failure) {
    failure->Delete();
  } catch (const std::bad_alloc&) {
    // The framework's own allocations report CMemoryException; the language's report
    // this. Either way the module cannot start.
  }
  DeleteAll();
  return FALSE;
}

void DestroyOperationTable() {
  for (int i = 0; i < gOperationCount && i < gOperations.GetSize(); ++i) {
    delete static_cast<COperation*>(gOperations[i]);
  }
  gOperations.RemoveAll();
  gOperationCount = 0;
}

int GetOperationCount() {
  return gOperationCount;
}

COperation* GetOperationAt(int index) {
  if (index < 0 || index >= gOperationCount || index >= gOperations.GetSize()) return nullptr;
  return static_cast<COperation*>(gOperations[index]);
}
