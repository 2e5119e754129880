// The UI backend: message boxes from any thread, file dialogs with their flags and
// prompts, the wait cursor.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <thread>

#include "framework/tests/ui_test_resources.h"
#include "framework/uimodel.h"

using namespace uitest;

namespace {

using BackendTest = UiTest;

TEST_F(BackendTest, MessageBoxesFromAnotherThreadReachTheBackendWithTheirOwner) {
  // The host window lives on this thread; the box is shown by a worker, as during a run.
  HWND host = platform::CreateWindowObject(nullptr, "host");
  ui->QueueAnswer(IDYES);
  int answer = 0;
  std::thread::id worker;
  std::thread run([&] {
    worker = std::this_thread::get_id();
    answer = platform::MessageBox(host, "Go on?", "KV70", MB_YESNO | MB_ICONQUESTION);
  });
  run.join();
  EXPECT_EQ(answer, IDYES);
  auto box = ui->LastBox();
  EXPECT_EQ(box.owner, host);
  EXPECT_EQ(box.text, "Go on?");
  EXPECT_EQ(box.caption, "KV70");
  EXPECT_EQ(box.style, MB_YESNO | MB_ICONQUESTION);
  EXPECT_EQ(box.thread, worker);
  platform::DestroyWindowObject(host);
}

TEST_F(BackendTest, AfxMessageBoxReachesTheBackend) {
  EXPECT_EQ(AfxMessageBox("Refused", MB_OK | MB_ICONEXCLAMATION), IDOK);
  EXPECT_EQ(ui->LastBox().text, "Refused");
  EXPECT_EQ(ui->LastBox().owner, nullptr);
}

struct AnswerCase {
  UINT style;
  int question;   // SetQuestionAnswer
  int expected;
};

class DefaultAnswerTest : public UiTest, public ::testing::WithParamInterface<AnswerCase> {};

TEST_P(DefaultAnswerTest, UnqueuedBoxesGetTheDefaults) {
  ui->SetQuestionAnswer(GetParam().question);
  EXPECT_EQ(platform::MessageBox(nullptr, "t", "c", GetParam().style), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Styles, DefaultAnswerTest,
                         ::testing::Values(AnswerCase{MB_OK, IDNO, IDOK},
                                           AnswerCase{MB_OKCANCEL, IDNO, IDOK},
                                           AnswerCase{MB_YESNO, IDNO, IDNO},
                                           AnswerCase{MB_YESNO, IDYES, IDYES},
                                           AnswerCase{MB_YESNOCANCEL, IDYES, IDYES}));

TEST_F(BackendTest, WithoutBackendBoxesTakeThePlatformDefault) {
  uimodel::BackendScope none(nullptr);
  EXPECT_EQ(platform::MessageBox(nullptr, "t", "c", MB_YESNO), IDNO);
  EXPECT_EQ(ui->BoxCount(), 0u);
}

TEST_F(BackendTest, TheWaitCursorNests) {
  {
    CWaitCursor outer;
    EXPECT_TRUE(ui->WaitCursorShown());
    {
      CWaitCursor inner;
      EXPECT_EQ(uimodel::WaitCursorDepth(), 2);
    }
    EXPECT_TRUE(ui->WaitCursorShown());
    outer.Restore();
  }
  EXPECT_FALSE(ui->WaitCursorShown());
  EXPECT_EQ(ui->WaitCursorChanges(), (std::vector<bool>{true, true, false}));
}

struct FilterCase {
  const char* filter;
  std::vector<std::pair<const char*, const char*>> entries;
};

class FilterTest : public ::testing::TestWithParam<FilterCase> {};

TEST_P(FilterTest, Parses) {
  auto filters = uimodel::ParseFileFilter(GetParam().filter);
  ASSERT_EQ(filters.size(), GetParam().entries.size());
  for (size_t i = 0; i < filters.size(); ++i) {
    EXPECT_EQ(filters[i].description, GetParam().entries[i].first);
    EXPECT_EQ(filters[i].pattern, GetParam().entries[i].second);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Filters, FilterTest,
    ::testing::Values(
        FilterCase{"SRecord Files (*.x)|*.x|All files (*.*)|*.*||",
                   {{"SRecord Files (*.x)", "*.x"}, {"All files (*.*)", "*.*"}}},
        FilterCase{"Logs|*.log", {{"Logs", "*.log"}}},
        FilterCase{"Dangling|", {}},
        FilterCase{"", {}},
        FilterCase{nullptr, {}}));

class FileDialogTest : public UiTest {
 protected:
  FileDialogTest() {
    dir = std::filesystem::temp_directory_path() /
          ("ui_file_dialog_" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "_" +
           ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::create_directories(dir);
    existing = (dir / "old.log").string();
    std::ofstream(existing) << "x";
  }
  ~FileDialogTest() override { std::filesystem::remove_all(dir); }
  std::filesystem::path dir;
  std::string existing;
};

TEST_F(FileDialogTest, SaveModeFlagsFilterAndDefaultExtension) {
  CFileDialog save(FALSE, "log", nullptr, 0x2006, "File Dump Files (*.log)|*.log|All files (*.*)|*.*||");
  const std::string typed = (dir / "dump").string();
  ui->QueueFile(typed.c_str());
  ui->QueueAnswer(IDYES);  // create it?
  ASSERT_EQ(save.DoModal(), IDOK);
  EXPECT_EQ(save.GetPathName(), (typed + ".log").c_str()) << "the dialog adds the extension";
  EXPECT_EQ(save.GetFileName(), "dump.log");
  EXPECT_EQ(save.GetFileExt(), "log");
  EXPECT_EQ(save.GetFileTitle(), "dump");
  EXPECT_STREQ(save.m_ofn.lpstrFile, (typed + ".log").c_str());
  auto request = ui->FileRequests().at(0);
  EXPECT_FALSE(request.open);
  EXPECT_EQ(request.flags, 0x2006u);
  EXPECT_EQ(request.defExt, "log");
  EXPECT_EQ(request.title, "Save As");
  EXPECT_EQ(request.filters.size(), 2u);
  // OFN_CREATEPROMPT asked about the new file.
  ASSERT_EQ(ui->BoxCount(), 1u);
  EXPECT_NE(ui->LastBox().text.find("does not exist"), std::string::npos);
}

TEST_F(FileDialogTest, OverwritePromptRefusedAsksAgain) {
  CFileDialog save(FALSE, "log", nullptr, OFN_OVERWRITEPROMPT | OFN_HIDEREADONLY, nullptr);
  ui->QueueFile(existing.c_str());
  ui->QueueAnswer(IDNO);
  ui->QueueFile(existing.c_str());
  ui->QueueAnswer(IDYES);
  ASSERT_EQ(save.DoModal(), IDOK);
  EXPECT_EQ(save.GetPathName(), existing.c_str());
  auto boxes = ui->Boxes();
  ASSERT_EQ(boxes.size(), 2u);
  EXPECT_EQ(boxes[0].text, existing + " already exists.\nDo you want to replace it?");
  EXPECT_EQ(boxes[0].style, MB_YESNO | MB_ICONEXCLAMATION);
  EXPECT_EQ(ui->FileRequests().size(), 2u);
}

TEST_F(FileDialogTest, OpenModeMissingFileIsRefusedThenCancel) {
  CFileDialog open(TRUE, nullptr, "start.x", 0x1004, "SRecord Files (*.x)|*.x||");
  const std::string missing = (dir / "missing.x").string();
  ui->QueueFile(missing.c_str());
  ui->QueueFileCancel();
  EXPECT_EQ(open.DoModal(), IDCANCEL);
  EXPECT_EQ(open.GetPathName(), "");
  EXPECT_EQ(ui->LastBox().text, missing + "\nFile not found.\nCheck the file name and try again.");
  auto requests = ui->FileRequests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_TRUE(requests[0].open);
  EXPECT_EQ(requests[0].initialName, "start.x");
  EXPECT_EQ(requests[0].title, "Open");
}

TEST_F(FileDialogTest, ANameWithExtensionIsKeptAndNoBackendCancels) {
  CFileDialog save(FALSE, "log", nullptr, OFN_HIDEREADONLY, nullptr);
  const std::string typed = (dir / "name.txt").string();
  ui->QueueFile(typed.c_str());
  ASSERT_EQ(save.DoModal(), IDOK);
  EXPECT_EQ(save.GetPathName(), typed.c_str());
  uimodel::BackendScope none(nullptr);
  EXPECT_EQ(save.DoModal(), IDCANCEL);
}

}  // namespace

namespace {

TEST_F(BackendTest, ADialogShownFromAWorkerThreadBelongsToIt) {
  HWND host = platform::CreateWindowObject(nullptr, "host");
  CWnd* hostWnd = CWnd::FromHandle(host);
  ASSERT_NE(hostWnd, nullptr);
  std::thread::id worker;
  INT_PTR result = 0;
  ui->QueueDialog(IDD_FORM, [&](CDialog& d) {
    EXPECT_EQ(d.GetParent()->m_hWnd, host) << "owned by the host window of the other thread";
    // Messages to the dialog are handled at once on its own thread.
    uimodel::ClickButton(d, IDOK);
  });
  std::thread run([&] {
    worker = std::this_thread::get_id();
    CDialog dlg(IDD_FORM, hostWnd);
    result = dlg.DoModal();
  });
  run.join();
  EXPECT_EQ(result, IDOK);
  EXPECT_EQ(ui->Dialogs().at(0).thread, worker);
  platform::DestroyWindowObject(host);
}

}  // namespace
