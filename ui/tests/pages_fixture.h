// The plug-in's resources, a registry store and scratch directory of their own, and the
// scripted user, for tests of the wizard pages and the register dialog.
#pragma once
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "catalogue/install_settings.h"
#include "catalogue/tests/catalogue_fixture.h"
#include "framework/afxwin.h"
#include "framework/testing/scripted_ui.h"
#include "framework/uimodel.h"
#include "resources/resource.h"
#include "resources/testing/kv70_test_module.h"

namespace pages_test {

using catalogue_test::kOk;
using catalogue_test::RawValue;

// Six S-record lines and an end record: enough for the reader's format check.
inline std::string SRecordText(char fill = '0') {
  std::string text = "S00600004844521B\n";
  for (int i = 0; i < 5; ++i) {
    char address[5];
    std::snprintf(address, sizeof address, "%04X", i * 16);
    text += std::string("S113") + address + std::string(32, fill) + "EC\n";
  }
  return text + "S9030000FC\n";
}

class PagesTest : public catalogue_test::CatalogueTest {
 protected:
  // Pages load their texts when they are constructed, and test fixtures construct their
  // page members before SetUp runs: the resources must be in place first.
  PagesTest() : module_(kv70::testing::UseKV70Resources()) {}

  void SetUp() override {
    CatalogueTest::SetUp();
    ui_ = std::make_shared<ScriptedUi>();
    scope_ = std::make_unique<uimodel::BackendScope>(ui_);
  }
  void TearDown() override {
    scope_.reset();
    CatalogueTest::TearDown();
  }

  ScriptedUi& ui() { return *ui_; }
  HMODULE module() const { return module_; }

  // An S-record file modified `ageSeconds` ago (later files are younger).
  std::string MakeFirmware(const std::string& name, int ageSeconds = 100, char fill = '0') {
    const std::string path = MakeFile(name, SRecordText(fill));
    std::filesystem::last_write_time(
        path, std::filesystem::file_time_type::clock::now() - std::chrono::seconds(ageSeconds));
    return path;
  }

  // The host's installation directory (the firmware directory is not created).
  std::string SetInstallDirectory() {
    const std::string install = Path("install");
    std::filesystem::create_directories(install);
    CreateKey(kHostKeyPath);
    platform::RegKey host;
    EXPECT_EQ(platform::RegOpenKeyEx(HKEY_LOCAL_MACHINE, kHostKeyPath, 0, KEY_ALL_ACCESS, host.put()), kOk);
    SetValue(host.get(), kInstallDirectoryValue, RawValue::Sz(install));
    return install;
  }

  // What a box said, in order.
  std::vector<std::string> BoxTexts() const {
    std::vector<std::string> texts;
    for (const auto& box : ui_->Boxes()) texts.push_back(box.text);
    return texts;
  }

 private:
  HMODULE module_ = nullptr;
  std::shared_ptr<ScriptedUi> ui_;
  std::unique_ptr<uimodel::BackendScope> scope_;
};

// A wizard of the page under test and a plain page after it, started on the first.
class Wizard {
 public:
  explicit Wizard(CPropertyPage& page) : next_(IDD_LOG_FILE), sheet_("Velmora") {
    sheet_.AddPage(&page);
    sheet_.AddPage(&next_);
    sheet_.SetWizardMode();
    sheet_.Create();
    sheet_.SetActivePage(0);
    platform::PumpMessages();
  }
  CPropertySheet& sheet() { return sheet_; }
  int Active() const { return sheet_.GetActiveIndex(); }
  void Press(int button) {
    sheet_.PressButton(button);
    platform::PumpMessages();
  }

 private:
  // The page outlives the sheet: the sheet's destruction still talks to its active page.
  CPropertyPage next_;
  CPropertySheet sheet_;
};

// What a control shows.
inline uimodel::ControlInfo Control(const CWnd& window, int id) {
  for (const auto& info : uimodel::Snapshot(window)) {
    if (info.id == id) return info;
  }
  ADD_FAILURE() << "no control " << id;
  return {};
}

}  // namespace pages_test
