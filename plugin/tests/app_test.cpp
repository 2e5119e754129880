// The application object's start-up and shut-down in a unit test's module (which has no
// version block of its own).
#include "plugin/app.h"

#include <gtest/gtest.h>

#include <cstring>

#include "framework/afx.h"
#include "plugin/operation_table.h"
#include "reporting/testing/recording_host.h"
#include "resources/testing/kv70_test_module.h"

namespace {

using kv70::testing::BoxEvent;
using kv70::testing::RecordingHost;

class AppTest : public ::testing::Test {
 protected:
  void SetUp() override { kv70::testing::UseKV70Resources(); }
};

TEST_F(AppTest, InitInstanceNamesTheProfileAndBuildsTheRegistry) {
  CDevKV70App app;
  ASSERT_TRUE(app.InitInstance());
  EXPECT_STREQ(app.m_pszRegistryKey, "QUARNELL\\Velmora");
  EXPECT_STREQ(app.m_pszProfileName, "BDDevice");
  EXPECT_EQ(GetOperationCount(), 3);
  app.ExitInstance();
  EXPECT_EQ(GetOperationCount(), 0);
}

TEST_F(AppTest, VersionIsEmptyWhenTheModuleHasNoVersionBlock) {
  CDevKV70App app;
  ASSERT_TRUE(app.InitInstance());
  EXPECT_EQ(app.GetVersion(), "");
  app.ExitInstance();
}

TEST_F(AppTest, FailureBoxCarriesVersionLineAndIsOwnedByTheGivenWindow) {
  RecordingHost host;
  CDevKV70App app;
  app.m_pszAppName = ::strdup("DevKV70");
  app.ShowFailureMessage("Something broke.", host.hwnd());
  EXPECT_EQ(host.events(), std::vector{BoxEvent("DevKV70 Version: \n\nSomething broke.", "DevKV70",
                                                0x00010030, host.hwnd())});
}

}  // namespace
