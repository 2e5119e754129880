// The body of the software upgrade.
#include "operations/software_upgrade_operation.h"
#include "plugin/failures.h"
#include "plugin/reporting.h"

bool CSoftwareUpgradeOperation::Execute(RunRecord* record) {
  // Not able to reach a device yet: every run ends as an operation failure, after the
  // first cancellation point so that a cancelled run still ends as cancelled.
  CheckCancel(record);
  throw new DeviceException(500, record->comPort);
}
