// The flash monitor program that the plug-in uploads into the KV70's RAM: an opaque
// payload, embedded at build time from resources/monitor/flashmon.bin or from the file
// named by the KV70_MONITOR_IMAGE build option. A run may take another file instead
// (device/monitor_program.h).
#pragma once
#include <cstddef>

constexpr std::size_t kFlashMonitorImageSize = 8554;

extern const unsigned char kFlashMonitorImage[kFlashMonitorImageSize];

// Where the embedded image came from: "embedded stand-in", or "embedded from the build
// option KV70_MONITOR_IMAGE (<file>)".
extern const char kFlashMonitorImageOrigin[];
