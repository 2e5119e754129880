// FakeDevice.so: a device plug-in of our own for the host's tests. It has nothing to do
// with any real device: it offers pages with the controls a plug-in's pages use (a list
// with Insert, Delete and double click, a dialog with edits and Browse, a page with an
// edit and Browse), a dialog with a list view during a run, questions, status texts,
// progress above 100 and an operation that waits for the cancel event. The host must
// drive it without knowing any of this.
#include <cctype>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <new>
#include <string>
#include <vector>

#include "framework/afx.h"
#include "framework/afxwin.h"
#include "framework/plugin_abi.h"
#include "platform/clock.h"
#include "platform/module.h"
#include "platform/sync.h"
#include "platform/window.h"

#define FAKE_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

constexpr UINT IDD_PACKAGES = 501;
constexpr UINT IDD_ADD_PACKAGE = 502;
constexpr UINT IDD_OUTPUT_FILE = 503;
constexpr UINT IDD_READINGS = 504;
constexpr int IDC_LIST = 1002;
constexpr int IDC_NAME = 1011;
constexpr int IDC_FILE = 1008;
constexpr int IDC_BROWSE = 1003;
constexpr int IDC_OUTPUT = 1004;
constexpr int IDC_SERIAL = 1001;
constexpr int IDC_TABLE = 5051;

constexpr DWORD kText = SS_LEFT | WS_VISIBLE;
constexpr DWORD kEdit = ES_AUTOHSCROLL | WS_BORDER | WS_TABSTOP | WS_VISIBLE;
constexpr DWORD kButton = BS_PUSHBUTTON | WS_TABSTOP | WS_VISIBLE;

const DlgControl kPackageControls[] = {
    {ControlClass::Static, 1015, "", 4, 4, 100, 152, SS_BLACKFRAME | SS_SUNKEN | WS_VISIBLE},
    {ControlClass::Static, -1,
     "Choose the package to install.\n\nInsert adds one, Delete removes one.", 112, 4, 180, 40,
     kText},
    {ControlClass::GroupBox, -1, "&Packages", 112, 60, 182, 56, BS_GROUPBOX | WS_VISIBLE},
    {ControlClass::ListBox, IDC_LIST, "", 116, 72, 164, 40,
     LBS_NOTIFY | LBS_WANTKEYBOARDINPUT | LBS_NOINTEGRALHEIGHT | WS_VSCROLL | WS_BORDER |
         WS_VISIBLE},
};
const DlgControl kAddControls[] = {
    {ControlClass::GroupBox, -1, "Package", 4, 4, 240, 68, BS_GROUPBOX | WS_VISIBLE},
    {ControlClass::Static, -1, "&Name:", 12, 15, 68, 8, kText},
    {ControlClass::Edit, IDC_NAME, "", 12, 23, 164, 14, kEdit},
    {ControlClass::Static, -1, "&File:", 12, 42, 52, 8, kText},
    {ControlClass::Edit, IDC_FILE, "", 12, 50, 164, 14, kEdit},
    {ControlClass::Button, IDC_BROWSE, "&Browse...", 184, 50, 50, 14, kButton},
    {ControlClass::Button, IDOK, "&Add", 250, 8, 50, 14,
     BS_DEFPUSHBUTTON | WS_TABSTOP | WS_VISIBLE},
    {ControlClass::Button, IDCANCEL, "Cancel", 250, 28, 50, 14, kButton},
};
const DlgControl kOutputControls[] = {
    {ControlClass::Static, -1, "Where should the log go?", 116, 4, 176, 32, kText},
    {ControlClass::GroupBox, -1, "&Output file", 116, 44, 179, 32, BS_GROUPBOX | WS_VISIBLE},
    {ControlClass::Edit, IDC_OUTPUT, "", 119, 57, 116, 12, kEdit},
    {ControlClass::Button, IDC_BROWSE, "B&rowse...", 239, 55, 52, 16, kButton},
};
const DlgControl kReadingControls[] = {
    {ControlClass::Button, IDOK, "OK", 203, 7, 50, 14, BS_DEFPUSHBUTTON | WS_TABSTOP | WS_VISIBLE},
    {ControlClass::Static, -1, "Serial:", 7, 9, 40, 8, kText},
    {ControlClass::Edit, IDC_SERIAL, "", 48, 7, 145, 12, kEdit | ES_READONLY},
    {ControlClass::GroupBox, -1, "Readings", 7, 24, 186, 139, BS_GROUPBOX | WS_VISIBLE},
    {ControlClass::ListView, IDC_TABLE, "", 12, 34, 176, 124,
     LVS_REPORT | LVS_SINGLESEL | WS_BORDER | WS_VISIBLE},
};

template <size_t N>
constexpr int Count(const DlgControl (&)[N]) {
  return static_cast<int>(N);
}

const DlgTemplate kPackages = {IDD_PACKAGES,
                               "Fake - Choose Package",
                               296,
                               165,
                               "MS Sans Serif",
                               8,
                               WS_CHILD | WS_DISABLED | WS_CAPTION,
                               kPackageControls,
                               Count(kPackageControls)};
const DlgTemplate kAdd = {IDD_ADD_PACKAGE,
                          "Add Package",
                          304,
                          77,
                          "MS Sans Serif",
                          8,
                          WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME,
                          kAddControls,
                          Count(kAddControls)};
const DlgTemplate kOutput = {IDD_OUTPUT_FILE,
                             "Fake - Output File",
                             296,
                             165,
                             "MS Sans Serif",
                             8,
                             WS_CHILD | WS_DISABLED | WS_CAPTION,
                             kOutputControls,
                             Count(kOutputControls)};
const DlgTemplate kReadings = {IDD_READINGS,
                               "Readings",
                               260,
                               170,
                               "MS Sans Serif",
                               8,
                               WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME,
                               kReadingControls,
                               Count(kReadingControls)};

const platform::ResourceEntry kResources[] = {
    {RT_DIALOG, IDD_PACKAGES, &kPackages, sizeof kPackages},
    {RT_DIALOG, IDD_ADD_PACKAGE, &kAdd, sizeof kAdd},
    {RT_DIALOG, IDD_OUTPUT_FILE, &kOutput, sizeof kOutput},
    {RT_DIALOG, IDD_READINGS, &kReadings, sizeof kReadings},
};

void Status(const RunRecord& record, const std::string& text) {
  platform::SendMessage(record.hostWindow, WM_OPERATION_STATUS, 0,
                        reinterpret_cast<LPARAM>(text.c_str()));
}

void Progress(const RunRecord& record, long position) {
  platform::SendMessage(record.hostWindow, WM_OPERATION_PROGRESS, 0, static_cast<LPARAM>(position));
}

bool Cancelled(const RunRecord& record) {
  return platform::WaitForSingleObject(record.cancelEvent, 0) == WAIT_OBJECT_0;
}

class AddPackageDialog : public CDialog {
 public:
  AddPackageDialog() : CDialog(IDD_ADD_PACKAGE) {}
  CString name;
  CString file;

 protected:
  void DoDataExchange(CDataExchange* dx) override {
    DDX_Text(dx, IDC_NAME, name);
    DDX_Text(dx, IDC_FILE, file);
  }
  BOOL OnCommand(WPARAM wParam, LPARAM lParam) override {
    if (LOWORD(wParam) == IDC_BROWSE && HIWORD(wParam) == BN_CLICKED) {
      UpdateData(TRUE);
      CFileDialog browse(TRUE, nullptr, file, OFN_FILEMUSTEXIST | OFN_HIDEREADONLY,
                         "Package files (*.pkg)|*.pkg|All files (*.*)|*.*||", this);
      if (browse.DoModal() == IDOK) {
        file = browse.GetPathName();
        UpdateData(FALSE);
      }
      return TRUE;
    }
    return CDialog::OnCommand(wParam, lParam);
  }
  void OnOK() override {
    UpdateData(TRUE);
    if (name.IsEmpty() || file.IsEmpty()) {
      AfxMessageBox("Both the name and the file are needed.", MB_ICONEXCLAMATION);
      return;
    }
    EndDialog(IDOK);
  }
};

// Insert reaches the page also when the list is empty (a list box asks its parent about
// keys only for its items).
class InsertKeyList : public CListBox {
 protected:
  void OnKeyDown(UINT key, UINT repeatCount, UINT flags) override {
    if (key == VK_INSERT && GetCount() == 0) {
      GetParent()->SendMessage(WM_VKEYTOITEM, MAKEWPARAM(VK_INSERT, 0),
                               reinterpret_cast<LPARAM>(m_hWnd));
      return;
    }
    CListBox::OnKeyDown(key, repeatCount, flags);
  }
};

class PackagePage : public CPropertyPage {
 public:
  PackagePage() : CPropertyPage(IDD_PACKAGES) {}
  std::vector<std::string> items{"Alpha 1.0", "Beta 2.0"};
  int selected = 1;

  std::string Selected() const {
    return selected >= 0 && selected < static_cast<int>(items.size())
               ? items[static_cast<size_t>(selected)]
               : "";
  }

  BOOL OnSetActive() override {
    const BOOL result = CPropertyPage::OnSetActive();
    Refresh();
    if (CWnd* sheet = GetParent())
      sheet->PostMessage(PSM_SETWIZBUTTONS, 0, PSWIZB_BACK | PSWIZB_NEXT);
    return result;
  }

  LRESULT OnWizardNext() override {
    selected = List()->GetCurSel();
    if (selected < 0) {
      AfxMessageBox(
          "No package was chosen.\n\nChoose one from the list, or press Insert to add one.",
          MB_ICONEXCLAMATION);
      return -1;
    }
    return CPropertyPage::OnWizardNext();
  }

 protected:
  CListBox* List() { return &list_; }
  void DoDataExchange(CDataExchange* dx) override { DDX_Control(dx, IDC_LIST, list_); }
  InsertKeyList list_;

  void Refresh() {
    CListBox* list = List();
    list->ResetContent();
    for (const std::string& item : items) list->AddString(item.c_str());
    list->SetCurSel(selected < static_cast<int>(items.size()) ? selected : -1);
  }

  int OnVKeyToItem(UINT key, CListBox* listBox, UINT index) override {
    const int current = List()->GetCurSel();
    if (key == VK_DELETE && current >= 0) {
      CString question;
      question.Format("Remove %s from the list?", items[static_cast<size_t>(current)].c_str());
      if (AfxMessageBox(question, MB_YESNO | MB_ICONQUESTION) == IDYES) {
        items.erase(items.begin() + current);
        selected = 0;
        Refresh();
      }
      return -2;
    }
    if (key == VK_INSERT) {
      AddPackageDialog dialog;
      if (dialog.DoModal() == IDOK) {
        items.push_back(dialog.name.GetString());
        selected = static_cast<int>(items.size()) - 1;
        Refresh();
      }
      return -2;
    }
    return CPropertyPage::OnVKeyToItem(key, listBox, index);
  }

  BOOL OnCommand(WPARAM wParam, LPARAM lParam) override {
    if (LOWORD(wParam) == IDC_LIST && HIWORD(wParam) == LBN_DBLCLK) {
      if (CWnd* sheet = GetParent()) sheet->PostMessage(PSM_PRESSBUTTON, PSBTN_NEXT, 0);
      return TRUE;
    }
    return CPropertyPage::OnCommand(wParam, lParam);
  }
};

class OutputPage : public CPropertyPage {
 public:
  OutputPage() : CPropertyPage(IDD_OUTPUT_FILE) {}
  CString path;

  LRESULT OnWizardNext() override {
    UpdateData(TRUE);
    if (path.IsEmpty()) {
      AfxMessageBox("No file was given.", MB_ICONEXCLAMATION);
      return -1;
    }
    return 0;
  }

 protected:
  // A field shorter than the paths it is given, as a plug-in's may be.
  void DoDataExchange(CDataExchange* dx) override {
    DDX_Text(dx, IDC_OUTPUT, path);
    DDV_MaxChars(dx, path, 64);
  }
  BOOL OnCommand(WPARAM wParam, LPARAM lParam) override {
    if (LOWORD(wParam) == IDC_BROWSE && HIWORD(wParam) == BN_CLICKED) {
      CFileDialog browse(FALSE, "log", nullptr, OFN_OVERWRITEPROMPT | OFN_HIDEREADONLY,
                         "Log files (*.log)|*.log||", this);
      if (browse.DoModal() == IDOK) {
        path = browse.GetPathName();
        UpdateData(FALSE);
      }
      return TRUE;
    }
    return CPropertyPage::OnCommand(wParam, lParam);
  }
};

class ReadingsDialog : public CDialog {
 public:
  ReadingsDialog() : CDialog(IDD_READINGS) {}

 protected:
  BOOL OnInitDialog() override {
    CDialog::OnInitDialog();
    SetDlgItemText(IDC_SERIAL, "SN-0042");
    auto* table = static_cast<CListCtrl*>(GetDlgItem(IDC_TABLE));
    table->InsertColumn(0, "Name");
    table->InsertColumn(1, "Value");
    table->InsertItem(0, "Radio");
    table->SetItemText(0, 1, "Enabled");
    table->InsertItem(1, "Memory");
    table->SetItemText(1, 1, "Jan 1999");
    return TRUE;
  }
};

struct Operation {
  const char* name;
  const char* description;
};
const Operation kOperations[] = {
    {"Package install", "Installs a package into the fake device."},
    {"Settings readout", "Shows the fake device's settings."},
    {"Log save", "Saves the fake device's log into a file."},
    {"Endless wait", "Waits until it is cancelled."},
    {"Question time", "Asks a question and waits for the answer."},
};
constexpr std::int32_t kOperationCount = 5;

AFX_MODULE_STATE gState;
CWinApp* gApp = nullptr;
HMODULE gModule = nullptr;
PackagePage* gPackagePage = nullptr;
OutputPage* gOutputPage = nullptr;

__attribute__((constructor)) void FakeAttach() {
  gModule = platform::RegisterModule("FakeDevice", reinterpret_cast<const void*>(&FakeAttach),
                                     kResources, sizeof kResources / sizeof kResources[0]);
  gApp = new CWinApp("FakeDevice");
  AfxDllProcessAttach(&gState, gApp, gModule);
  AFX_MANAGE_STATE(&gState);
  gPackagePage = new PackagePage;
  gOutputPage = new OutputPage;
}

__attribute__((destructor)) void FakeDetach() {
  {
    AFX_MANAGE_STATE(&gState);
    delete gPackagePage;
    delete gOutputPage;
  }
  AfxDllProcessDetach(&gState, gApp);
  delete gApp;
  platform::UnregisterModule(gModule);
}

std::uint8_t Copy(const std::string& text, char* buffer, std::uint32_t length) {
  if (length > 0) std::strncpy(buffer, text.c_str(), length);
  return 1;
}

int Execute(std::int32_t index, const RunRecord& record) {
  switch (index) {
    case 0: {
      platform::SetWindowText(record.hostWindow, "Fake - Installing");
      Status(record, "Installing " + gPackagePage->Selected() + "...");
      for (long p = 0; p <= 100; p += 25) Progress(record, p);
      Progress(record, 130);
      if (platform::MessageBox(record.hostWindow,
                               "The package is already there.\n\nInstall it again?", "FakeDevice",
                               MB_YESNO | MB_ICONQUESTION) != IDYES) {
        Status(record, "Left as it was.");
        return OPERATION_CANCELED;
      }
      Status(record, "Installed " + gPackagePage->Selected() + ".");
      return OPERATION_SUCCEEDED;
    }
    case 1: {
      Status(record, "Reading settings...");
      ReadingsDialog dialog;
      dialog.DoModal();
      Status(record, "Settings shown.");
      return OPERATION_SUCCEEDED;
    }
    case 2: {
      std::ofstream out(gOutputPage->path.GetString(), std::ios::binary);
      out << "fake log\n";
      if (!out) {
        platform::MessageBox(record.hostWindow, "The log could not be written.", "FakeDevice",
                             MB_ICONERROR);
        return OPERATION_FAILED;
      }
      Status(record, "Log saved.");
      return OPERATION_SUCCEEDED;
    }
    case 3:
      Status(record, "Waiting for Ctrl-C...");
      while (!Cancelled(record)) platform::Sleep(10);
      Status(record, "The operation was canceled.");
      return OPERATION_CANCELED;
    case 4:
      Status(record, "Asking...");
      platform::MessageBox(record.hostWindow, "Shall we go on?", "FakeDevice",
                           MB_YESNO | MB_ICONQUESTION);
      return Cancelled(record) ? OPERATION_CANCELED : OPERATION_SUCCEEDED;
    default:
      return OPERATION_FAILED;
  }
}

}  // namespace

FAKE_EXPORT std::int32_t GetNumberOperations() {
  return kOperationCount;
}

FAKE_EXPORT std::uint8_t GetOperation(std::int32_t index, char* buffer, std::uint32_t length) {
  if (index < 0 || index >= kOperationCount) return 0;
  return Copy(kOperations[index].name, buffer, length);
}

FAKE_EXPORT std::uint8_t GetDescription(std::int32_t index, char* buffer, std::uint32_t length) {
  if (index < 0 || index >= kOperationCount) return 0;
  return Copy(kOperations[index].description, buffer, length);
}

FAKE_EXPORT std::int32_t GetNumberOfPages(std::int32_t index) {
  return index == 0 || index == 2 ? 1 : 0;
}

FAKE_EXPORT std::uintptr_t GetPage(std::int32_t index, std::int32_t page) {
  if (page != 0) return 0;
  if (index == 0)
    return reinterpret_cast<std::uintptr_t>(static_cast<CPropertyPage*>(gPackagePage));
  if (index == 2) return reinterpret_cast<std::uintptr_t>(static_cast<CPropertyPage*>(gOutputPage));
  return 0;
}

FAKE_EXPORT std::uint8_t GetText(std::int32_t index, std::int32_t textIndex, char* buffer,
                                 std::uint32_t length) {
  if (index < 0 || index >= kOperationCount || textIndex < 0 || textIndex > 3) return 0;
  switch (textIndex) {
    case 0:
      return Copy(
          index == 0 ? "Install " + gPackagePage->Selected() : std::string(kOperations[index].name),
          buffer, length);
    case 1:
      return Copy("Plug the fake device into COM%d (100%% fake).", buffer, length);
    case 2: {
      std::string lower = kOperations[index].name;
      for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
      return Copy(lower, buffer, length);
    }
    default:
      return Copy("The fake operation is done.", buffer, length);
  }
}

FAKE_EXPORT std::int32_t DoOperation(RunRecord* record) {
  AFX_MANAGE_STATE(&gState);
  int result = OPERATION_FAILED;
  if (record && record->operationIndex >= 0 && record->operationIndex < kOperationCount &&
      record->comPort >= 1 && record->comPort <= 6) {
    result = Execute(record->operationIndex, *record);
  }
  if (record) platform::PostMessage(record->hostWindow, WM_OPERATION_COMPLETE, 0, 0);
  return result;
}
