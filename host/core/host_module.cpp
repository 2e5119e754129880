#include "host/core/host_module.h"

#include "framework/afx.h"
#include "framework/dlgtemplate.h"
#include "platform/module.h"

namespace velmora {

namespace {

// Summary page: the four texts of the operation, then how to go on.
constexpr DWORD kStatic = SS_LEFT | WS_VISIBLE;
const DlgControl kSummaryControls[] = {
    {ControlClass::Static, IDC_SUMMARY_INTRO, "", 8, 6, 280, 16, kStatic},
    {ControlClass::Static, IDC_SUMMARY_TEXT, "", 8, 26, 280, 44, kStatic},
    {ControlClass::Static, IDC_SUMMARY_CONNECT, "", 8, 74, 280, 24, kStatic},
    {ControlClass::Static, IDC_SUMMARY_COMPLETION, "", 8, 102, 280, 24, kStatic},
    {ControlClass::Static, IDC_SUMMARY_FINISH_HINT,
     "Press Finish to start, Back to change your choices, or Cancel to stop here.", 8, 134, 280, 16,
     kStatic},
};

const DlgTemplate kSummaryTemplate = {
    IDD_VELMORA_SUMMARY,
    "Velmora - Summary",
    296,
    165,
    "MS Sans Serif",
    8,
    WS_CHILD | WS_CAPTION | WS_DISABLED,
    kSummaryControls,
    static_cast<int>(sizeof kSummaryControls / sizeof kSummaryControls[0])};

const platform::ResourceEntry kResources[] = {
    {RT_DIALOG, IDD_VELMORA_SUMMARY, &kSummaryTemplate, sizeof kSummaryTemplate},
};

}  // namespace

void RegisterHostModule() {
  static HMODULE module = nullptr;
  if (module) return;
  module = platform::RegisterModule("velmora", reinterpret_cast<const void*>(&RegisterHostModule),
                                    kResources, sizeof kResources / sizeof kResources[0]);
  AFX_MODULE_STATE* state = AfxGetAppModuleState();
  state->m_hCurrentInstanceHandle = module;
  state->m_hCurrentResourceHandle = module;
  state->m_lpszCurrentAppName = "Velmora";
}

}  // namespace velmora
