#include "ui/config_dialog.h"

#include <ctime>

#include "models/device_config.h"
#include "models/month_index.h"
#include "models/option_desc.h"
#include "resources/resource.h"

IMPLEMENT_DYNAMIC(CConfigDialog, CDialog)

namespace {

// Space kept between the installed-options group and the dialog's lower edge.
constexpr int kBottomMargin = 10;

}  // namespace

CString FormatOptionMonth(WORD monthIndex) {
  YearMonth date = MonthIndexToDate(monthIndex);
  // Index 0 converts to "month 0": the December before, as a date library would read it.
  if (date.month < 1) {
    date.month += 12;
    date.year -= 1;
  }
  std::tm tm{};
  tm.tm_year = date.year - 1900;
  tm.tm_mon = date.month - 1;
  tm.tm_mday = 1;
  char text[64] = {};
  if (std::strftime(text, sizeof text, "%b %Y", &tm) == 0) return CString();
  return CString(text);
}

CConfigDialog::CConfigDialog(const CDeviceConfig* config, CWnd* parent)
    : CDialog(IDD_CONFIGURATION, parent), m_pConfig(config) {}

CConfigDialog::~CConfigDialog() = default;

void CConfigDialog::DoDataExchange(CDataExchange* dx) {
  CDialog::DoDataExchange(dx);
  DDX_Control(dx, IDC_INSTALLED_GROUP, m_installedGroup);
  DDX_Control(dx, IDC_TEMPORARY_GROUP, m_temporaryGroup);
  DDX_Control(dx, IDC_CONFIG_SAVE, m_saveButton);
  DDX_Control(dx, IDC_CONFIG_PRINT, m_printButton);
  DDX_Control(dx, IDC_TEMPORARY_LIST, m_temporaryList);
  DDX_Control(dx, IDC_INSTALLED_LIST, m_installedList);
  DDX_Text(dx, IDC_SERIAL_LABEL, m_strLabel);
  DDX_Text(dx, IDC_SERIAL_NUMBER, m_strSerialNumber);
}

BOOL CConfigDialog::OnInitDialog() {
  CString deviceName;
  deviceName.LoadString(IDS_DEVICE_NAME);
  m_strLabel.Format(IDS_SERIAL_LABEL, deviceName.GetString());
  m_strSerialNumber = m_pConfig ? m_pConfig->GetSerialNumber() : "";

  CDialog::OnInitDialog();

  CString heading;
  heading.LoadString(IDS_COLUMN_OPTION);
  m_installedList.InsertColumn(0, heading, LVCFMT_LEFT);
  heading.LoadString(IDS_COLUMN_VALUE);
  m_installedList.InsertColumn(1, heading, LVCFMT_LEFT);
  FillInstalledOptions();

  HideTemporaryOptions();

  m_installedList.AutoSizeColumns(-1);
  m_temporaryList.AutoSizeColumns(-1);

  // Saving and printing the record are not offered.
  m_saveButton.ShowWindow(SW_HIDE);
  m_printButton.ShowWindow(SW_HIDE);
  return TRUE;
}

void CConfigDialog::FillInstalledOptions() {
  if (!m_pConfig) return;
  CString enabled;
  enabled.LoadString(IDS_OPTION_ENABLED);
  int row = 0;
  for (int i = 0; i < m_pConfig->GetOptionCount(); ++i) {
    const COptionDesc* option = m_pConfig->GetOption(i);
    if (!option || option->IsHidden()) continue;
    CString value;
    if (const auto* dated = dynamic_cast<const CDatedOption*>(option)) {
      if (dated->GetMonthIndex() == MONTH_INDEX_NONE) continue;
      value = FormatOptionMonth(dated->GetMonthIndex());
    } else {
      if (!option->IsInstalled()) continue;
      value = enabled;
    }
    m_installedList.InsertItem(row, option->GetDisplayName());
    m_installedList.SetItemText(row, 1, value);
    ++row;
  }
}

void CConfigDialog::HideTemporaryOptions() {
  m_temporaryGroup.ShowWindow(SW_HIDE);
  m_temporaryList.ShowWindow(SW_HIDE);
  CRect group;
  CRect dialog;
  m_installedGroup.GetWindowRect(group);
  GetWindowRect(dialog);
  MoveWindow(dialog.left, dialog.top, dialog.Width(), group.bottom + kBottomMargin - dialog.top,
             TRUE);
}
