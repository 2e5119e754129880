// The summary texts of the upgrade and the dump follow the choices made on their pages.
#include <gtest/gtest.h>

#include "operations/file_system_dump_operation.h"
#include "operations/software_upgrade_operation.h"
#include "ui/log_file_page.h"
#include "ui/tests/pages_fixture.h"
#include "framework/uimodel.h"

namespace pages_test {
namespace {

class SummaryTextTest : public PagesTest {
 protected:
  void SetUp() override {
    PagesTest::SetUp();
    CreateFirmwareKey();
  }
};

TEST_F(SummaryTextTest, TheUpgradeSummaryNamesTheChosenEntry) {
  WriteEntry("a", "Release 7", "KV70", MakeFirmware("a.x"));
  CSoftwareUpgradeOperation operation;
  char text[256] = {};
  ASSERT_TRUE(operation.GetText(0, text, sizeof text));
  EXPECT_STREQ(text, "Operation to perform:\r\n\tSoftware upgrade\r\n\r\nUpgrade software to:\r\n\t");
  Wizard wizard(*operation.GetPageAt(0));
  ASSERT_TRUE(operation.GetText(0, text, sizeof text));
  EXPECT_STREQ(text, "Operation to perform:\r\n\tSoftware upgrade\r\n\r\nUpgrade software to:\r\n\tRelease 7");
}

TEST_F(SummaryTextTest, TheDumpSummaryNamesTheFile) {
  CFileSystemDumpOperation operation;
  char text[512] = {};
  ASSERT_TRUE(operation.GetText(0, text, sizeof text));
  EXPECT_STREQ(text, "Operation to perform:\r\n\tFile system dump\r\n\r\nFile system log file:\r\n\t");
  auto& logPage = static_cast<CLogFilePage&>(*operation.GetPageAt(0));
  Wizard wizard(logPage);
  ASSERT_TRUE(uimodel::TypeText(logPage, IDC_LOG_FILE_NAME, Path("fs.log").c_str()));
  wizard.Press(PSBTN_NEXT);
  ASSERT_TRUE(operation.GetText(0, text, sizeof text));
  EXPECT_EQ(std::string(text),
            "Operation to perform:\r\n\tFile system dump\r\n\r\nFile system log file:\r\n\t" + Path("fs.log"));
}

}  // namespace
}  // namespace pages_test
