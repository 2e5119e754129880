// The plug-in's status texts that the end-to-end tests wait for or look for, as the
// technician reads them.
#pragma once
#include <string>

namespace kv70::e2e {

inline const std::string kEstablishing = "Establishing communication with the KV70. Please wait...";
inline const std::string kRebooting = "Rebooting the KV70 data collector...";
inline const std::string kWaiting =
    "Timeout getting response from KV!  Check the cables!  Waiting for reconnect...";
inline const std::string kCanceled = "The operation was canceled.";
inline const std::string kFailed = "There was a failure with the operation!";
inline const std::string kConfigDone = "The configuration information was retrieved successfully.";
inline const std::string kDumpDone = "The file system dump completed successfully.";
inline const std::string kUpgradeDone = "The software upgrade was completed successfully.";

}  // namespace kv70::e2e
