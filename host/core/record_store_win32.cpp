// The service records on Windows: the registry there is the system's own, which has no
// table for them, so records are not kept yet; the commands say so.
#include <cstdlib>

#include "host/core/service_record.h"

namespace velmora {

std::string StationName() {
  const char* name = std::getenv("COMPUTERNAME");
  return name ? name : "";
}

std::string OperatingSystemUser() {
  const char* name = std::getenv("USERNAME");
  return name ? name : "";
}

std::unique_ptr<RecordStore> OpenRecordStore(std::string& error) {
  error = "service records are not kept on this system";
  return nullptr;
}

}  // namespace velmora
