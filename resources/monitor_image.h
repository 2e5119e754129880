// The flash monitor program that the plug-in uploads into the KV70's RAM: an opaque
// payload, embedded at build time from resources/monitor/flashmon.bin or from the file
// named by the KV70_MONITOR_IMAGE build option.
#pragma once
#include <cstddef>

constexpr std::size_t kFlashMonitorImageSize = 8554;

extern const unsigned char kFlashMonitorImage[kFlashMonitorImageSize];
