// Inside the platform layer only: the tracing port that reports a port's traffic to the
// wire tap in force.
#pragma once
#include <memory>

#include "platform/comm_port.h"

namespace platform {

// The tap installed with SetWireTap, or null.
WireTap* CurrentWireTap();

// Wraps `port` so that its traffic and line events reach the tap in force at each call.
std::unique_ptr<CommPort> MakeTracingPort(std::unique_ptr<CommPort> port);

}  // namespace platform
