// The configuration dialog: what it shows for a record, its shape when it opens, the
// column sizing of its lists, and ShowConfigurationDialog's ownership and modality.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "ui/auto_size_list_ctrl.h"
#include "ui/config_dialog.h"
#include "models/kv70_config.h"
#include "device/kv70_device.h"
#include "framework/testing/scripted_ui.h"
#include "framework/uimodel.h"
#include "platform/window.h"
#include "resources/resource.h"
#include "resources/testing/kv70_test_module.h"
#include "serial/serial_com.h"

namespace {

// A record as the device sends it, with every option switched off.
class RecordBytes {
 public:
  RecordBytes() {
    bytes_.fill(0);
    SetSerial("KV70-4711");
    SetNumber(176, 8922);  // a flash type the device accepts
    for (int number : {2, 4, 5, 6, 7, 10}) Option(number) = 0xFF;  // off value 255
    SetMonth(33, 0xFFFF);
    SetMonth(40, 0xFFFF);
  }
  void SetSerial(const std::string& text) {
    std::fill_n(bytes_.begin() + 2, 32, 0);
    std::copy(text.begin(), text.end(), bytes_.begin() + 2);
  }
  void UnsetSerial() { bytes_[2] = 0xFF; }
  void SetNumber(int offset, WORD value) {
    bytes_[offset] = static_cast<BYTE>(value >> 8);
    bytes_[offset + 1] = static_cast<BYTE>(value);
  }
  BYTE& Option(int number) { return bytes_[110 + number]; }
  void SetMonth(int number, WORD index) {
    Option(number) = static_cast<BYTE>(index >> 8);
    Option(number + 1) = static_cast<BYTE>(index);
  }
  const BYTE* data() const { return bytes_.data(); }

 private:
  std::array<BYTE, 184> bytes_{};
};

struct Row {
  std::string name;
  std::string value;
  friend bool operator==(const Row&, const Row&) = default;
};

void PrintTo(const Row& row, std::ostream* os) { *os << "{" << row.name << ", " << row.value << "}"; }

class ConfigDialogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    kv70::testing::UseKV70Resources();
    ui_ = std::make_shared<ScriptedUi>();
    scope_ = std::make_unique<uimodel::BackendScope>(ui_);
  }

  // Decodes the bytes into a fresh record and shows the dialog; `inspect` sees the open
  // dialog before the user presses OK.
  ScriptedUi::ShownDialog Show(const RecordBytes& bytes,
                               const std::function<void(CDialog&)>& inspect = nullptr) {
    config_ = std::make_unique<CKV70Config>();
    EXPECT_TRUE(config_->Decode(bytes.data(), 184));
    ui_->QueueDialog(IDD_CONFIGURATION, [&](CDialog& dialog) {
      if (inspect) inspect(dialog);
      EXPECT_TRUE(uimodel::ClickButton(dialog, IDOK));
    });
    const std::size_t before = ui_->DialogCount();
    CConfigDialog dialog(config_.get(), nullptr);
    EXPECT_EQ(dialog.DoModal(), IDOK);
    EXPECT_EQ(ui_->DialogCount(), before + 1);
    return ui_->Dialogs().back();
  }

  // The display name of the option at an index of the record's table.
  std::string Name(int index) const { return config_->GetOption(index)->GetDisplayName(); }

  static std::vector<Row> Rows(const ScriptedUi::ShownDialog& shown) {
    std::vector<Row> rows;
    const uimodel::ControlInfo* list = shown.Find(IDC_INSTALLED_LIST);
    if (!list) return rows;
    for (const CString& item : list->items) {
      const std::string text = item.str();
      const auto tab = text.find('\t');
      rows.push_back({text.substr(0, tab), tab == std::string::npos ? "" : text.substr(tab + 1)});
    }
    return rows;
  }

  std::shared_ptr<ScriptedUi> ui_;
  std::unique_ptr<uimodel::BackendScope> scope_;
  std::unique_ptr<CKV70Config> config_;
};

TEST_F(ConfigDialogTest, ShowsTheDeviceLabelAndTheSerialNumber) {
  const struct {
    const char* what;
    void (*prepare)(RecordBytes&);
    const char* shown;
  } rows[] = {
      {"set", [](RecordBytes& b) { b.SetSerial("KV70-0012345"); }, "KV70-0012345"},
      {"unset (0xFF)", [](RecordBytes& b) { b.UnsetSerial(); }, "None"},
      {"empty (0x00)", [](RecordBytes& b) { b.SetSerial(""); }, ""},
      {"fills the field", [](RecordBytes& b) { b.SetSerial(std::string(32, 'S')); },
       "SSSSSSSSSSSSSSSSSSSSSSSSSSSSSSSS"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    RecordBytes bytes;
    row.prepare(bytes);
    const auto shown = Show(bytes);
    ASSERT_NE(shown.Find(IDC_SERIAL_LABEL), nullptr);
    EXPECT_EQ(shown.Find(IDC_SERIAL_LABEL)->text, "KV70 S/N:");
    ASSERT_NE(shown.Find(IDC_SERIAL_NUMBER), nullptr);
    EXPECT_EQ(shown.Find(IDC_SERIAL_NUMBER)->text, row.shown);
    EXPECT_EQ(shown.caption, "Device Configuration");
    scope_.reset();
    ui_ = std::make_shared<ScriptedUi>();
    scope_ = std::make_unique<uimodel::BackendScope>(ui_);
  }
}

// Which options appear, and with what value, for given option bytes. Names are given
// as indices into the option table; -1 ends the list.
struct OptionCase {
  const char* name;
  void (*prepare)(RecordBytes&);
  std::vector<std::pair<int, const char*>> expected;  // table index, value
};

const OptionCase kOptionCases[] = {
    {"NothingInstalled", [](RecordBytes&) {}, {}},
    {"EveryToggleOn",
     [](RecordBytes& b) {
       for (int n : {0, 1, 2, 3, 4, 5, 6, 10}) b.Option(n) = 0x5A;
       b.Option(7) = 0x00;
     },
     {{0, "Enabled"}, {1, "Enabled"}, {3, "Enabled"}, {7, "Enabled"}}},
    {"HiddenTogglesOnlyNeverShow",
     [](RecordBytes& b) {
       for (int n : {2, 4, 5, 6, 10}) b.Option(n) = 0x00;
     },
     {}},
    {"ToggleSevenOffAtFF", [](RecordBytes& b) { b.Option(7) = 0xFF; }, {}},
    {"ToggleZeroOnAtOne", [](RecordBytes& b) { b.Option(0) = 0x01; }, {{0, "Enabled"}}},
    {"DatedOptions",
     [](RecordBytes& b) {
       b.SetMonth(33, 25);
       b.SetMonth(40, 24);
     },
     {{9, "Jan 1999"}, {10, "Dec 1998"}}},
    {"DecemberOfTheFirstYear", [](RecordBytes& b) { b.SetMonth(33, 12); }, {{9, "Dec 1997"}}},
    {"JanuaryAfterIt", [](RecordBytes& b) { b.SetMonth(40, 13); }, {{10, "Jan 1998"}}},
    {"FirstMonth", [](RecordBytes& b) { b.SetMonth(33, 1); }, {{9, "Jan 1997"}}},
    {"IndexZeroIsTheDecemberBefore", [](RecordBytes& b) { b.SetMonth(33, 0); }, {{9, "Dec 1996"}}},
    {"LastMonthOfTheCount", [](RecordBytes& b) { b.SetMonth(40, 0xFFFE); }, {{10, "Feb 7458"}}},
    {"EverythingInOrder",
     [](RecordBytes& b) {
       for (int n : {0, 1, 2, 3, 4, 5, 6, 10}) b.Option(n) = 0x01;
       b.Option(7) = 0x00;
       b.SetMonth(33, 300);
       b.SetMonth(40, 301);
     },
     {{0, "Enabled"}, {1, "Enabled"}, {3, "Enabled"}, {7, "Enabled"}, {9, "Dec 2021"},
      {10, "Jan 2022"}}},
};

class ConfigDialogOptionsTest : public ConfigDialogTest,
                                public ::testing::WithParamInterface<OptionCase> {};

TEST_P(ConfigDialogOptionsTest, ListsExactlyTheInstalledVisibleOptions) {
  RecordBytes bytes;
  GetParam().prepare(bytes);
  const auto shown = Show(bytes);
  std::vector<Row> expected;
  for (const auto& [index, value] : GetParam().expected) expected.push_back({Name(index), value});
  EXPECT_EQ(Rows(shown), expected);
  const uimodel::ControlInfo* list = shown.Find(IDC_INSTALLED_LIST);
  ASSERT_NE(list, nullptr);
  EXPECT_EQ(list->columns, (std::vector<CString>{"Option Name", "Value"}));
}

INSTANTIATE_TEST_SUITE_P(Records, ConfigDialogOptionsTest, ::testing::ValuesIn(kOptionCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(ConfigDialogTest, HiddenOptionNamesNeverAppear) {
  RecordBytes bytes;
  for (int n = 0; n < 62; ++n) bytes.Option(n) = static_cast<BYTE>(n & 1 ? 0x00 : 0x3C);
  const auto shown = Show(bytes);
  for (int hidden : {2, 4, 5, 6, 8}) {
    ASSERT_TRUE(config_->GetOption(hidden)->IsHidden());
    for (const Row& row : Rows(shown)) EXPECT_NE(row.name, Name(hidden)) << hidden;
  }
}

TEST_F(ConfigDialogTest, OpensShortenedWithOnlyOkBesideTheList) {
  const auto shown = Show(RecordBytes());
  EXPECT_EQ(shown.VisibleButtons(), std::vector<int>{IDOK});
  for (int id : {IDC_CONFIG_SAVE, IDC_CONFIG_PRINT, IDC_TEMPORARY_GROUP, IDC_TEMPORARY_LIST}) {
    ASSERT_NE(shown.Find(id), nullptr) << id;
    EXPECT_FALSE(shown.Find(id)->visible) << id;
  }
  for (int id : {IDC_INSTALLED_GROUP, IDC_INSTALLED_LIST, IDC_SERIAL_LABEL, IDC_SERIAL_NUMBER}) {
    ASSERT_NE(shown.Find(id), nullptr) << id;
    EXPECT_TRUE(shown.Find(id)->visible) << id;
  }
  // The dialog itself is the first entry; rectangles are relative to it.
  ASSERT_FALSE(shown.controls.empty());
  const CRect dialog = shown.controls.front().rect;
  const CRect group = shown.Find(IDC_INSTALLED_GROUP)->rect;
  EXPECT_EQ(dialog.Height(), group.bottom + 10);
  EXPECT_LT(dialog.Height(), group.bottom + 10 + 50) << "the temporary group's room is gone";
}

TEST_F(ConfigDialogTest, KeepsLeftTopAndWidthWhenShortened) {
  CRect before;
  CRect after;
  // Template size in pixels at 6 x 13 dialog base units: 260 x 234 units.
  const auto shown = Show(RecordBytes(), [&](CDialog& dialog) { dialog.GetWindowRect(after); });
  CDialog plain(IDD_CONFIGURATION);
  ui_->QueueDialog(IDD_CONFIGURATION, [&](CDialog& dialog) {
    dialog.GetWindowRect(before);
    uimodel::PressEscape(dialog);
  });
  plain.DoModal();
  EXPECT_EQ(after.left, before.left);
  EXPECT_EQ(after.top, before.top);
  EXPECT_EQ(after.Width(), before.Width());
  EXPECT_LT(after.Height(), before.Height());
}

TEST_F(ConfigDialogTest, ColumnsFitTheWiderOfHeadingAndContent) {
  // Fixed metrics: 6 pixels a character and 12 of margin.
  const auto width = [](const std::string& text) { return static_cast<int>(text.size()) * 6 + 12; };
  std::vector<int> empty;
  std::vector<int> full;
  std::vector<int> temporary;
  const auto widths = [](CDialog& dialog, int id) {
    auto* list = dynamic_cast<CAutoSizeListCtrl*>(CWnd::FromHandlePermanent(dialog.GetDlgItem(id)->m_hWnd));
    std::vector<int> result;
    if (!list) return result;
    for (int col = 0; col < list->GetHeaderCtrl()->GetItemCount(); ++col) {
      result.push_back(list->GetColumnWidth(col));
    }
    EXPECT_EQ(list->GetRedrawLockCount(), 0);
    EXPECT_TRUE(list->IsRedrawEnabled());
    return result;
  };
  Show(RecordBytes(), [&](CDialog& dialog) {
    empty = widths(dialog, IDC_INSTALLED_LIST);
    temporary = widths(dialog, IDC_TEMPORARY_LIST);
  });
  EXPECT_EQ(empty, (std::vector<int>{width("Option Name"), width("Value")})) << "headers only";
  EXPECT_TRUE(temporary.empty()) << "the temporary list has no columns";

  RecordBytes bytes;
  bytes.Option(0) = 1;
  bytes.SetMonth(33, 25);
  Show(bytes, [&](CDialog& dialog) { full = widths(dialog, IDC_INSTALLED_LIST); });
  const int nameWidth = std::max({width(Name(0)), width(Name(9)), width("Option Name")});
  EXPECT_EQ(full, (std::vector<int>{nameWidth, width("Jan 1999")}));
}

TEST_F(ConfigDialogTest, OkAndCancelEndTheDialog) {
  config_ = std::make_unique<CKV70Config>();
  ASSERT_TRUE(config_->Decode(RecordBytes().data(), 184));
  ui_->QueueDialog(IDD_CONFIGURATION, [](CDialog& dialog) { uimodel::PressEscape(dialog); });
  CConfigDialog cancelled(config_.get(), nullptr);
  EXPECT_EQ(cancelled.DoModal(), IDCANCEL);
  ui_->QueueDialog(IDD_CONFIGURATION, [](CDialog& dialog) { uimodel::PressEnter(dialog); });
  CConfigDialog confirmed(config_.get(), nullptr);
  EXPECT_EQ(confirmed.DoModal(), IDOK);
}

TEST_F(ConfigDialogTest, LeavesTheRecordAsItWas) {
  RecordBytes bytes;
  bytes.Option(0) = 1;
  bytes.SetMonth(40, 13);
  Show(bytes);
  const std::vector<BYTE> before(config_->GetRecord(), config_->GetRecord() + 184);
  ui_->QueueDialog(IDD_CONFIGURATION, [](CDialog& dialog) { uimodel::PressEnter(dialog); });
  CConfigDialog again(config_.get(), nullptr);
  again.DoModal();
  EXPECT_EQ(std::vector<BYTE>(config_->GetRecord(), config_->GetRecord() + 184), before);
  EXPECT_TRUE(config_->GetOption(0)->IsInstalled());
}

TEST_F(ConfigDialogTest, WithoutARecordShowsNothing) {
  ui_->QueueDialog(IDD_CONFIGURATION, [](CDialog& dialog) { uimodel::PressEnter(dialog); });
  CConfigDialog dialog(nullptr, nullptr);
  EXPECT_EQ(dialog.DoModal(), IDOK);
  const auto shown = ui_->Dialogs().back();
  EXPECT_EQ(shown.Find(IDC_SERIAL_NUMBER)->text, "");
  EXPECT_TRUE(shown.Find(IDC_INSTALLED_LIST)->items.empty());
}

TEST_F(ConfigDialogTest, ShowConfigurationDialogIsOwnedByTheHostWindow) {
  HWND host = platform::CreateWindowObject([](HWND, UINT, WPARAM, LPARAM) -> LRESULT { return 0; });
  RunRecord record{1, 1, host, nullptr};
  CSerialCom port;
  CKV70Device device(port, record);
  RecordBytes bytes;
  bytes.SetSerial("KV70-OWNED");
  bytes.Option(3) = 1;
  ASSERT_TRUE(device.GetConfig().Decode(bytes.data(), 184));

  HWND owner = nullptr;
  ui_->QueueDialog(IDD_CONFIGURATION, [&](CDialog& dialog) {
    owner = dialog.GetParent() ? dialog.GetParent()->m_hWnd : nullptr;
    uimodel::PressEscape(dialog);  // the result does not matter to the device
  });
  device.SetConfigurationViewer(&ShowConfigurationDialog);
  device.ShowConfigurationDialog();
  EXPECT_EQ(owner, host);
  ASSERT_EQ(ui_->DialogCount(), 1u);
  const auto shown = ui_->Dialogs().back();
  EXPECT_EQ(shown.Find(IDC_SERIAL_NUMBER)->text, "KV70-OWNED");
  EXPECT_EQ(shown.Find(IDC_INSTALLED_LIST)->items.size(), 1u);
  platform::DestroyWindowObject(host);
}

TEST(FormatOptionMonth, UsesAbbreviatedMonthAndFourDigitYear) {
  const struct {
    WORD index;
    const char* text;
  } rows[] = {{1, "Jan 1997"},  {2, "Feb 1997"},  {12, "Dec 1997"}, {13, "Jan 1998"},
              {24, "Dec 1998"}, {25, "Jan 1999"}, {42, "Jun 2000"}, {0, "Dec 1996"},
              {0xFFFE, "Feb 7458"}};
  for (const auto& row : rows) EXPECT_EQ(FormatOptionMonth(row.index), row.text) << row.index;
}

}  // namespace
