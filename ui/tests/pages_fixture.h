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

// A header, five data records in program flash and an end record: a firmware file the
// pages accept. `fill` is the hex digit every data byte is made of.
inline std::string SRecordText(char fill = '0') {
  auto line = [](const std::string& head, const std::string& fields) {
    unsigned sum = 0;
    for (std::size_t i = 2; i + 1 < head.size() + fields.size(); i += 2)
      sum += static_cast<unsigned>(std::stoul((head + fields).substr(i, 2), nullptr, 16));
    char checksum[3];
    std::snprintf(checksum, sizeof checksum, "%02X", ~sum & 0xFF);
    return head + fields + checksum + "\n";
  };
  std::string text = line("S006", "0000484452");
  for (int i = 0; i < 5; ++i) {
    char address[9];
    std::snprintf(address, sizeof address, "%08X", 0x02400000 + i * 16);
    text += line("S315", address + std::string(32, fill));
  }
  return text + line("S705", "02400000");
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
    EXPECT_EQ(
        platform::RegOpenKeyEx(HKEY_LOCAL_MACHINE, kHostKeyPath, 0, KEY_ALL_ACCESS, host.put()),
        kOk);
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
