// The frame of the three operations' bodies: connect to the KV70 at 9600 8N1, do the
// operation's own work, restart the device.
#pragma once
#include <functional>

#include "framework/plugin_abi.h"

class CKV70Device;

// Whether "Establishing connection" is sent a second time right before connecting.
enum class EstablishingStatus { kOnce, kAgainBeforeConnect };

// Sends "Establishing connection" and progress 0, opens the record's port at 9600 8N1,
// creates the device with `readOnly`, connects it, calls `work` with it, sends
// "Rebooting", restarts the device and closes the port. On failure the device is
// released first, then the port is closed and released, and the failure passes on
// unchanged; the device is not restarted then.
void RunOnConnectedDevice(RunRecord* record, BYTE readOnly, EstablishingStatus establishing,
                          const std::function<void(CKV70Device& device)>& work);
