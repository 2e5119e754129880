// The host's own module: its resources (the summary page's template) registered with
// the platform, and the framework's application state pointing at them, so that the
// host's pages are found and message boxes from pages carry the host's name.
#pragma once
#include "platform/winbase.h"

namespace velmora {

constexpr UINT IDD_VELMORA_SUMMARY = 30001;
constexpr int IDC_SUMMARY_INTRO = 30011;
constexpr int IDC_SUMMARY_TEXT = 30012;
constexpr int IDC_SUMMARY_CONNECT = 30013;
constexpr int IDC_SUMMARY_COMPLETION = 30014;
constexpr int IDC_SUMMARY_FINISH_HINT = 30015;

// Registers the module once and makes it the process's resource module.
void RegisterHostModule();

}  // namespace velmora
