// FakeDevice.so, the tests' own plug-in, loaded once through its exports as the hosts
// load any plug-in, and the operations whose pages the tests drive.
#pragma once
#include <memory>

#include "framework/uimodel.h"
#include "host/core/plugin_library.h"
#include "host/core/session.h"
#include "host/core/unattended_pages.h"

namespace velmora::testing {

constexpr int kInstall = 0;  // a page with a list of packages
constexpr int kReadout = 1;  // no pages
constexpr int kLogSave = 2;  // a page with an output file's field

inline PluginLibrary& Fake() {
  static PluginLibrary library(FAKE_PLUGIN_PATH);
  return library;
}

// The fake's pages keep what a wizard left in them (the package chosen, the output
// file): this puts them back as the plug-in starts them, Beta 2.0 chosen and no output
// file, so that a test finds them so whichever ran before it.
inline void ResetFakePages() {
  class Resetting final : public uimodel::Backend {
   public:
    int MessageBox(const platform::MessageBoxRequest&) override { return IDOK; }
    void RunModalDialog(CDialog& dialog) override { uimodel::PressEscape(dialog); }
    bool RunFileDialog(CFileDialog&, CString&) override { return false; }
    void RunWizard(CPropertySheet& sheet) override {
      PumpPending();
      if (CPropertyPage* page = sheet.GetActivePage()) {
        const PageFields fields = ReadPageFields(*page);
        if (fields.list) uimodel::SelectItem(*page, fields.list->id, 1);
        if (fields.edit) uimodel::TypeText(*page, fields.edit->id, "");
        // The pages take what they show on Next.
        sheet.PressButton(PSBTN_NEXT);
        PumpPending();
      }
      if (!sheet.IsEnded()) sheet.PressButton(PSBTN_CANCEL);
    }
  };
  uimodel::BackendScope scope(std::make_shared<Resetting>());
  for (const int op : {kInstall, kLogSave}) {
    CPropertySheet sheet("Velmora");
    sheet.AddPage(Fake().Page(op, 0));
    sheet.SetWizardMode();
    sheet.DoModal();
  }
}

}  // namespace velmora::testing
