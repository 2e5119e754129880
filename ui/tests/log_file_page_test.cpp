// The log file page through the scripted user: Next checks the name without harming a
// file that is there, and asks before such a file will be replaced.
#include "ui/log_file_page.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

#include "catalogue/registry_values.h"
#include "framework/uimodel.h"
#include "platform/files.h"
#include "platform/registry.h"
#include "platform/testing/system_for_tests.h"
#include "ui/tests/pages_fixture.h"

namespace pages_test {
namespace {

class LogFilePageTest : public PagesTest {
 protected:
  std::string Content(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  void Type(const std::string& name) {
    ASSERT_TRUE(uimodel::TypeText(page, IDC_LOG_FILE_NAME, name.c_str()));
  }

  CLogFilePage page;
};

TEST_F(LogFilePageTest, AnEmptyNameIsRefused) {
  Wizard wizard(page);
  wizard.Press(PSBTN_NEXT);
  EXPECT_EQ(wizard.Active(), 0);
  ASSERT_EQ(ui().BoxCount(), 1u);
  EXPECT_EQ(ui().LastBox().text,
            "No file was selected.\n\nPlease select a valid log file for the KV70 file system.");
  EXPECT_EQ(ui().LastBox().style, MB_OK | MB_ICONEXCLAMATION);
  EXPECT_EQ(ui().LastBox().caption, "DevKV70");
}

TEST_F(LogFilePageTest, ANewNameGoesOnAndLeavesNoFile) {
  Wizard wizard(page);
  const std::string name = Path("dump");  // no extension: used as it is
  Type(name);
  wizard.Press(PSBTN_NEXT);
  EXPECT_EQ(wizard.Active(), 1);
  EXPECT_EQ(ui().BoxCount(), 0u);
  EXPECT_EQ(page.GetLogFileName(), name.c_str());
  EXPECT_FALSE(FileExists(name.c_str())) << "the dump creates it when it runs";
}

TEST_F(LogFilePageTest, AMissingDirectoryIsRefusedWithTheFileError) {
  Wizard wizard(page);
  const std::string name = Path("no such folder/fs.log");
  Type(name);
  wizard.Press(PSBTN_NEXT);
  EXPECT_EQ(wizard.Active(), 0);
  ASSERT_EQ(ui().BoxCount(), 1u);
  EXPECT_NE(ui().LastBox().text.find(name), std::string::npos) << ui().LastBox().text;
  EXPECT_EQ(ui().LastBox().style, MB_OK);
  EXPECT_EQ(Control(page, IDC_LOG_FILE_NAME).text, name.c_str()) << "the name stays";
}

struct ExistingCase {
  const char* name;
  int answer;
  int expectedPage;
};

const ExistingCase kExisting[] = {{"No", IDNO, 0}, {"Yes", IDYES, 1}};

class ExistingFileTest : public LogFilePageTest,
                         public ::testing::WithParamInterface<ExistingCase> {};

TEST_P(ExistingFileTest, IsAskedAboutAndKeptWhole) {
  const std::string name = MakeFile("fs.log", "the last dump\n");
  Wizard wizard(page);
  Type(name);
  ui().SetQuestionAnswer(GetParam().answer);
  wizard.Press(PSBTN_NEXT);
  EXPECT_EQ(wizard.Active(), GetParam().expectedPage);
  ASSERT_EQ(ui().BoxCount(), 1u);
  EXPECT_EQ(ui().LastBox().text,
            "The file " + name +
                " already exists.\n\nPress yes to replace it with the KV70 file system.");
  EXPECT_EQ(ui().LastBox().style, MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2)
      << "No is the default";
  EXPECT_EQ(Content(name), "the last dump\n") << "nothing is lost before the dump runs";
}

INSTANTIATE_TEST_SUITE_P(Answers, ExistingFileTest, ::testing::ValuesIn(kExisting),
                         [](const auto& info) { return std::string(info.param.name); });

// The registry database under any name that reaches it, and a FIFO (whose open would
// wait for a reader for ever), are refused at Next and stay as they were.
TEST_F(LogFilePageTest, TheRegistryDatabaseAndAFifoAreRefusedAndKept) {
  if (!platform_test::HasFifos() || !platform_test::RegistryIsAFile())
    GTEST_SKIP() << "no FIFOs and no registry file on this system";
  ASSERT_EQ(platform::CheckRegistryStore(), ERROR_SUCCESS);
  const std::string store = platform::RegistryPath();
  const std::string before = Content(store);
  ASSERT_FALSE(before.empty());
  const std::string fifo = Path("pipe.log");
  ASSERT_TRUE(platform_test::MakeFifo(fifo));
  const struct {
    std::string name;
    std::string expected;
  } rows[] = {
      {store, "The file " + store +
                  " is Velmora's registry database, which holds the list of software "
                  "versions.\n\nSelect another log file for the KV70 file system."},
      {fifo, fifo},
  };
  for (const auto& row : rows) {
    ui().ClearBoxes();
    Wizard wizard(page);
    Type(row.name);
    wizard.Press(PSBTN_NEXT);
    EXPECT_EQ(wizard.Active(), 0) << row.name;
    ASSERT_EQ(ui().BoxCount(), 1u) << row.name;
    EXPECT_NE(ui().LastBox().text.find(row.expected), std::string::npos) << ui().LastBox().text;
  }
  EXPECT_EQ(Content(store), before);
  EXPECT_TRUE(std::filesystem::is_fifo(fifo));
}

TEST_F(LogFilePageTest, AFileInUseIsRefusedAndKept) {
  const std::string name = MakeFile("fs.log", "in use\n");
  CFile holder(name.c_str(), CFile::modeRead | CFile::shareDenyWrite);
  Wizard wizard(page);
  Type(name);
  wizard.Press(PSBTN_NEXT);
  EXPECT_EQ(wizard.Active(), 0);
  ASSERT_EQ(ui().BoxCount(), 1u);
  EXPECT_NE(ui().LastBox().text.find(name), std::string::npos) << ui().LastBox().text;
  EXPECT_EQ(Content(name), "in use\n");
}

TEST_F(LogFilePageTest, BrowseAsksTheSaveDialogAndFillsTheName) {
  const std::string chosen = MakeFile("chosen.log", "old\n");
  ui().QueueFile(chosen.c_str());
  ui().SetQuestionAnswer(IDYES);  // the file dialog's overwrite prompt
  Wizard wizard(page);
  ASSERT_TRUE(uimodel::ClickButton(page, IDC_LOG_BROWSE));
  EXPECT_EQ(Control(page, IDC_LOG_FILE_NAME).text, chosen.c_str());
  const auto requests = ui().FileRequests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_FALSE(requests[0].open);
  EXPECT_EQ(requests[0].flags, 0x2006u);
  EXPECT_EQ(requests[0].defExt, "log");
  EXPECT_EQ(requests[0].initialName, "");
  EXPECT_EQ(requests[0].owner, page.m_hWnd);
  ASSERT_EQ(requests[0].filters.size(), 2u);
  EXPECT_EQ(requests[0].filters[0].description, "File Dump Files (*.log)");
  EXPECT_EQ(requests[0].filters[0].pattern, "*.log");
  const std::size_t boxes = ui().BoxCount();  // the dialog's own overwrite prompt
  wizard.Press(PSBTN_NEXT);
  EXPECT_EQ(wizard.Active(), 1);
  EXPECT_EQ(ui().BoxCount(), boxes) << "asked once, in the file dialog";
  EXPECT_EQ(Content(chosen), "old\n");
}

TEST_F(LogFilePageTest, BrowseCancelledKeepsATypedName) {
  ui().QueueFileCancel();
  Wizard wizard(page);
  Type("typed.log");
  ASSERT_TRUE(uimodel::ClickButton(page, IDC_LOG_BROWSE));
  EXPECT_EQ(Control(page, IDC_LOG_FILE_NAME).text, "typed.log");
}

// A limit shorter than the platform's paths cut a long name, and the dump went to a file
// the user never named.
TEST_F(LogFilePageTest, NamesAreLimitedOnlyByThePlatformsPathLength) {
  Wizard wizard(page);
  const auto limit = static_cast<int>(platform::MaxPathLength());
  EXPECT_EQ(static_cast<CEdit*>(page.GetDlgItem(IDC_LOG_FILE_NAME))->GetLimitText(),
            static_cast<UINT>(limit));
  // A name longer than 255 characters (up to 300, as far as the platform goes) is typed
  // whole.
  const std::size_t target = std::min<std::size_t>(static_cast<std::size_t>(limit), 300);
  const std::string file = "/kv70-filesystem-dump-2026.log";
  std::string folder = Path("long");
  std::filesystem::create_directories(folder);
  while (folder.size() + file.size() + 1 < target) {
    const std::size_t room = target - folder.size() - file.size();
    folder += "/" + std::string(std::min<std::size_t>(60, room - 1), 'd');
    std::filesystem::create_directories(folder);
  }
  const std::string longName = folder + file;
  ASSERT_GT(longName.size(), 255u);
  Type(longName);
  EXPECT_EQ(Control(page, IDC_LOG_FILE_NAME).text.str(), longName);
  wizard.Press(PSBTN_NEXT);
  EXPECT_EQ(wizard.Active(), 1) << ui().LastBox().text;
  EXPECT_EQ(page.GetLogFileName().str(), longName);
  // Typing stops at the platform's limit; a longer text put there otherwise is refused
  // by the exchange.
  wizard.Press(PSBTN_BACK);
  const std::string tooLong = Path(std::string(static_cast<size_t>(limit) + 10, 'n'));
  Type(tooLong);
  EXPECT_EQ(Control(page, IDC_LOG_FILE_NAME).text.GetLength(), limit);
  page.GetDlgItem(IDC_LOG_FILE_NAME)->SetWindowText(tooLong.c_str());
  wizard.Press(PSBTN_NEXT);
  EXPECT_EQ(wizard.Active(), 0);
  EXPECT_EQ(ui().LastBox().text, "Enter no more than " + std::to_string(limit) + " characters.");
}

}  // namespace
}  // namespace pages_test
