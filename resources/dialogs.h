// The plug-in's dialog templates: the configuration dialog, the two wizard pages and the
// register firmware dialog.
#pragma once
#include <span>

#include "framework/dlgtemplate.h"

namespace kv70::resources {

extern const DlgTemplate kSoftwareSelectionTemplate;  // IDD_SOFTWARE_SELECTION
extern const DlgTemplate kLogFileTemplate;            // IDD_LOG_FILE
extern const DlgTemplate kRegisterFirmwareTemplate;   // IDD_REGISTER_FIRMWARE
extern const DlgTemplate kConfigurationTemplate;      // IDD_CONFIGURATION

std::span<const DlgTemplate* const> DialogTemplates();

}  // namespace kv70::resources
