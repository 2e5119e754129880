// The application object, module start-up and shut-down, and pointer arrays.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <string>

#include "framework/afx.h"
#include "framework/tests/core_test_module.h"

namespace {

class ScriptedApp : public CWinApp {
 public:
  explicit ScriptedApp(BOOL initResult, LPCTSTR name = nullptr)
      : CWinApp(name), initResult_(initResult) {}
  BOOL InitInstance() override {
    ++inits;
    appSeen = AfxGetApp();
    stateSeen = AfxGetModuleState();
    loaded.LoadString(1);
    if (throwInInit) AfxThrowMemoryException();
    return initResult_;
  }
  int ExitInstance() override {
    ++exits;
    return 0;
  }
  int inits = 0;
  int exits = 0;
  bool throwInInit = false;
  CWinApp* appSeen = nullptr;
  AFX_MODULE_STATE* stateSeen = nullptr;
  CString loaded;

 private:
  BOOL initResult_;
};

class CoreApp : public ::testing::Test {
 protected:
  CoreTestModule module_{"DevTest.so", {{1, "from the module"}}};
  AFX_MODULE_STATE state_;
};

TEST_F(CoreApp, AttachRunsInitInstanceInTheModuleState) {
  ScriptedApp app(TRUE);
  ASSERT_TRUE(AfxDllProcessAttach(&state_, &app, module_.handle()));
  EXPECT_EQ(app.inits, 1);
  EXPECT_EQ(app.exits, 0);
  EXPECT_EQ(app.stateSeen, &state_);
  EXPECT_EQ(app.appSeen, &app);
  EXPECT_EQ(app.loaded, "from the module");
  EXPECT_STREQ(app.m_pszAppName, "DevTest");  // the module's name without extension
  EXPECT_EQ(app.m_hInstance, module_.handle());
  EXPECT_EQ(AfxGetModuleState(), AfxGetAppModuleState());  // the caller's state is back

  // The module is an extension module now: its strings are found from any state.
  CString s;
  EXPECT_TRUE(s.LoadString(1));
  {
    AFX_MANAGE_STATE(&state_);
    EXPECT_STREQ(AfxGetAppName(), "DevTest");
    EXPECT_EQ(AfxGetInstanceHandle(), module_.handle());
  }

  AfxDllProcessDetach(&state_, &app);
  EXPECT_EQ(app.exits, 1);
  EXPECT_EQ(state_.m_pCurrentWinApp, nullptr);
  EXPECT_FALSE(s.LoadString(1));
  AfxDllProcessDetach(&state_, &app);  // a second detach does nothing
  EXPECT_EQ(app.exits, 1);
}

TEST_F(CoreApp, FailedInitInstanceRunsExitInstanceAndRefusesTheModule) {
  ScriptedApp app(FALSE);
  EXPECT_FALSE(AfxDllProcessAttach(&state_, &app, module_.handle()));
  EXPECT_EQ(app.inits, 1);
  EXPECT_EQ(app.exits, 1);
  EXPECT_EQ(state_.m_pCurrentWinApp, nullptr);
  EXPECT_EQ(AfxGetModuleState(), AfxGetAppModuleState());
  CString s;
  EXPECT_FALSE(s.LoadString(1));       // not registered as an extension module
  AfxDllProcessDetach(&state_, &app);  // the loader may still call detach: no second exit
  EXPECT_EQ(app.exits, 1);
}

TEST_F(CoreApp, FailureEscapingInitInstanceIsAFailedStart) {
  ScriptedApp app(TRUE);
  app.throwInInit = true;
  EXPECT_FALSE(AfxDllProcessAttach(&state_, &app, module_.handle()));
  EXPECT_EQ(app.exits, 1);
}

TEST_F(CoreApp, ExplicitNameIsKept) {
  ScriptedApp app(TRUE, "Velmora");
  ASSERT_TRUE(AfxDllProcessAttach(&state_, &app, module_.handle()));
  EXPECT_STREQ(app.m_pszAppName, "Velmora");
  AfxDllProcessDetach(&state_, &app);
}

TEST_F(CoreApp, MessageBoxCaptionIsTheAppName) {
  CoreMessageBoxRecorder boxes;
  ScriptedApp app(TRUE);
  ASSERT_TRUE(AfxDllProcessAttach(&state_, &app, module_.handle()));
  {
    AFX_MANAGE_STATE(&state_);
    AfxMessageBox("hello", MB_OK | MB_ICONEXCLAMATION);
  }
  AfxDllProcessDetach(&state_, &app);
  ASSERT_EQ(boxes.boxes.size(), 1u);
  EXPECT_EQ(boxes.boxes[0].caption, "DevTest");
  EXPECT_EQ(boxes.boxes[0].text, "hello");
}

TEST(CoreWinApp, RegistryKeyAndProfileName) {
  CWinApp app("DevKV70");
  app.SetRegistryKey("QUARNELL\\Velmora");
  EXPECT_STREQ(app.m_pszRegistryKey, "QUARNELL\\Velmora");
  EXPECT_STREQ(app.m_pszProfileName, "DevKV70");
  // The application may replace the profile name with its own heap text.
  std::free(const_cast<char*>(app.m_pszProfileName));
  app.m_pszProfileName = ::strdup("BDDevice");
  EXPECT_STREQ(app.m_pszProfileName, "BDDevice");
  // The destructor frees all three strings (checked by the sanitizer build).
}

TEST(CoreWinApp, RuntimeClass) {
  CWinApp app;
  EXPECT_TRUE(app.IsKindOf(RUNTIME_CLASS(CWinApp)));
  EXPECT_TRUE(app.IsKindOf(RUNTIME_CLASS(CObject)));
  EXPECT_FALSE(app.IsKindOf(RUNTIME_CLASS(CException)));
}

// ---- CPtrArray

TEST(CorePtrArray, AddInsertRemove) {
  int a = 1, b = 2, c = 3;
  CPtrArray array;
  EXPECT_EQ(array.Add(&a), 0);
  EXPECT_EQ(array.Add(&c), 1);
  array.InsertAt(1, &b);
  ASSERT_EQ(array.GetSize(), 3);
  EXPECT_EQ(array[0], &a);
  EXPECT_EQ(array[1], &b);
  EXPECT_EQ(array.GetAt(2), &c);
  EXPECT_EQ(array.GetUpperBound(), 2);
  array.RemoveAt(0, 2);
  ASSERT_EQ(array.GetCount(), 1);
  EXPECT_EQ(array[0], &c);
  array[0] = &a;
  EXPECT_EQ(array.GetAt(0), &a);
  array.InsertAt(3, &b);  // beyond the end: the gap is filled with null pointers
  ASSERT_EQ(array.GetSize(), 4);
  EXPECT_EQ(array[1], nullptr);
  EXPECT_EQ(array[2], nullptr);
  EXPECT_EQ(array[3], &b);
  array.SetSize(2);
  EXPECT_EQ(array.GetSize(), 2);
  array.RemoveAll();
  EXPECT_EQ(array.GetSize(), 0);
}

TEST(CorePtrArray, OutOfRangeIsRefused) {
  CPtrArray array;
  array.Add(nullptr);
  EXPECT_THROW(array.GetAt(1), std::out_of_range);
  EXPECT_THROW(array.SetAt(-1, nullptr), std::out_of_range);
  EXPECT_THROW(array.RemoveAt(0, 2), std::out_of_range);
  EXPECT_THROW(array.RemoveAt(-1), std::out_of_range);
  EXPECT_THROW(array.InsertAt(-1, nullptr), std::out_of_range);
  EXPECT_THROW(array.SetSize(-1), std::out_of_range);
  EXPECT_EQ(array.GetSize(), 1);
}

}  // namespace
