// DevKV70 as a host sees it: loaded at run time, its exports looked up by name, runs
// started on a worker thread while the host window's thread pumps messages.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "framework/afx.h"
#include "framework/afxwin.h"
#include "framework/plugin_abi.h"
#include "platform/dynamic_library.h"
#include "platform/sync.h"
#include "platform/testing/system_for_tests.h"
#include "platform/window.h"
#include "reporting/testing/recording_host.h"

namespace {

using kv70::testing::BoxEvent;
using kv70::testing::CompleteEvent;
using kv70::testing::HostEvent;
using kv70::testing::ProgressEvent;
using kv70::testing::RecordingHost;
using kv70::testing::StatusEvent;

constexpr UINT kFailureBoxStyle = 0x00010030;

class Plugin {
 public:
  explicit Plugin(const std::string& path) {
    std::string why;
    handle_ = platform::LoadDynamicLibrary(path, why);
    if (!handle_) {
      ADD_FAILURE() << "loading " << path << ": " << why;
      return;
    }
    count = Find<PFN_GetNumberOperations>("GetNumberOperations");
    getOperation = Find<PFN_GetOperation>("GetOperation");
    getDescription = Find<PFN_GetDescription>("GetDescription");
    pages = Find<PFN_GetNumberOfPages>("GetNumberOfPages");
    getPage = Find<PFN_GetPage>("GetPage");
    getText = Find<PFN_GetText>("GetText");
    doOperation = Find<PFN_DoOperation>("DoOperation");
  }
  ~Plugin() {
    if (handle_) platform::FreeDynamicLibrary(handle_);
  }
  Plugin(const Plugin&) = delete;
  Plugin& operator=(const Plugin&) = delete;
  bool loaded() const { return handle_ && doOperation; }

  // Runs DoOperation on a worker thread, as a host with a window thread does, and pumps
  // this thread's messages until the run has returned.
  int Run(RunRecord record, HWND window) {
    std::atomic<bool> done{false};
    std::atomic<int> result{-1};
    std::thread worker([&] {
      result = doOperation(&record);
      done = true;
      platform::WakeWindowThread(window);
    });
    while (!done) platform::PumpMessages(true, INFINITE);
    worker.join();
    platform::PumpMessages(false);
    return result;
  }

  PFN_GetNumberOperations count = nullptr;
  PFN_GetOperation getOperation = nullptr;
  PFN_GetDescription getDescription = nullptr;
  PFN_GetNumberOfPages pages = nullptr;
  PFN_GetPage getPage = nullptr;
  PFN_GetText getText = nullptr;
  PFN_DoOperation doOperation = nullptr;

 private:
  template <typename F>
  F Find(const char* name) {
    auto f = reinterpret_cast<F>(platform::FindExport(handle_, name));
    if (!f) ADD_FAILURE() << "no export " << name;
    return f;
  }
  void* handle_ = nullptr;
};

// Every COM port of these runs names a device that does not exist, so that a run ends at
// the port's open, deterministically, whatever serial hardware the machine has. Runs that
// reach a device are the end-to-end tests' business (against the simulator).
// The name lies in a directory that is there, so that both systems say "not found" (2)
// rather than Windows' "path not found" (3).
inline void PointComPortsNowhere() {
  static const std::string nowhere =
      (std::filesystem::temp_directory_path() / platform_test::UniqueName("velmora-no-port-"))
          .string();
  for (int port = 1; port <= 6; ++port)
    platform_test::SetEnv("VELMORA_COM" + std::to_string(port), nowhere);
}

// What a run on COM`port` shows when the port cannot be opened.
inline std::string PortFailureText(int port) {
  return "COM Failure! [301] There was a failure [2] attempting to open COM" +
         std::to_string(port) + ".\n\nRestart your computer and try again.";
}

class ExportsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    PointComPortsNowhere();
    ASSERT_TRUE(plugin_.loaded());
  }
  Plugin plugin_{DEVKV70_PATH};
  RecordingHost host_;
};

TEST_F(ExportsTest, RecordsThatFailTheChecksRunNothingAndStillComplete) {
  struct Row {
    int port;
    int operation;
  } rows[] = {{0, 0}, {7, 0}, {-1, 1}, {1, 3}, {1, -1}, {0, 3}, {6, 3}};
  for (const auto& row : rows) {
    SCOPED_TRACE("COM" + std::to_string(row.port) + " operation " + std::to_string(row.operation));
    RecordingHost host;
    EXPECT_EQ(plugin_.Run({row.port, row.operation, host.hwnd(), nullptr}, host.hwnd()),
              OPERATION_FAILED);
    EXPECT_EQ(host.events(), std::vector{CompleteEvent()});
  }
}

TEST_F(ExportsTest, AFailedRunShowsTheBoxWithTheVersionThenTheStatusThenCompletes) {
  platform::Event cancel;
  EXPECT_EQ(plugin_.Run({2, 1, host_.hwnd(), cancel.get()}, host_.hwnd()), OPERATION_FAILED);
  EXPECT_EQ(host_.events(),
            (std::vector{StatusEvent("Establishing communication with the KV70. Please wait..."),
                         ProgressEvent(0),
                         BoxEvent("DevKV70 Version: 1.05\n\n" + PortFailureText(2), "DevKV70",
                                  kFailureBoxStyle, host_.hwnd()),
                         StatusEvent("There was a failure with the operation!"), CompleteEvent()}));
}

TEST_F(ExportsTest, RunsOnTheWindowsOwnThreadToo) {
  RunRecord record{2, 1, host_.hwnd(), nullptr};
  EXPECT_EQ(plugin_.doOperation(&record), OPERATION_FAILED);
  platform::PumpMessages(false);
  auto events = host_.events();
  ASSERT_EQ(events.size(), 5u);
  EXPECT_EQ(events[2].kind, HostEvent::Box);
  EXPECT_EQ(events[4], CompleteEvent());
}

TEST_F(ExportsTest, CallersModuleStateIsRestored) {
  HINSTANCE before = AfxGetResourceHandle();
  LPCTSTR nameBefore = AfxGetAppName();
  char buffer[64];
  plugin_.count();
  plugin_.getOperation(0, buffer, sizeof buffer);
  plugin_.getText(0, 1, buffer, sizeof buffer);
  plugin_.getPage(0, 0);
  RunRecord record{0, 0, host_.hwnd(), nullptr};
  plugin_.doOperation(&record);
  EXPECT_EQ(AfxGetResourceHandle(), before);
  EXPECT_STREQ(AfxGetAppName(), nameBefore);
}

TEST_F(ExportsTest, SummaryTextsNameTheOperation) {
  char buffer[200];
  ASSERT_TRUE(plugin_.getText(1, 0, buffer, sizeof buffer));
  EXPECT_STREQ(buffer, "Operation to perform:\r\n\tConfiguration retrieval");
  ASSERT_TRUE(plugin_.getText(2, 3, buffer, sizeof buffer));
  EXPECT_STREQ(buffer, "The file system dump completed successfully.");
}

TEST_F(ExportsTest, PagesAreThePluginsPropertyPagesOnItsOwnTemplates) {
  auto* selection = reinterpret_cast<CPropertyPage*>(plugin_.getPage(0, 0));
  auto* log = reinterpret_cast<CPropertyPage*>(plugin_.getPage(2, 0));
  ASSERT_NE(selection, nullptr);
  ASSERT_NE(log, nullptr);
  EXPECT_TRUE(selection->IsKindOf(RUNTIME_CLASS(CPropertyPage)));
  EXPECT_EQ(selection->GetCaption(), "Velmora - KV70 Software Selection");
  EXPECT_EQ(log->GetCaption(), "Velmora - KV70 Log File Selection");
}

TEST_F(ExportsTest, TextExportsRefuseANullBuffer) {
  EXPECT_FALSE(plugin_.getOperation(0, nullptr, 10));
  EXPECT_FALSE(plugin_.getDescription(0, nullptr, 10));
  EXPECT_FALSE(plugin_.getText(0, 1, nullptr, 10));
}

// A copy of the module whose version block cannot be found.
class UnreadableVersionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = platform_test::MakeTempDir("devkv70-version-");
    ASSERT_FALSE(dir_.empty());
    copy_ = dir_ + "/" + platform::ModuleFileName("DevKV70");
    std::ifstream in(DEVKV70_PATH, std::ios::binary);
    std::vector<char> bytes((std::istreambuf_iterator<char>(in)), {});
    ASSERT_FALSE(bytes.empty());
    const std::string magic("VS_VERSION_INFO\0\xFE\xEF", 18);
    int patched = 0;
    for (auto at = std::search(bytes.begin(), bytes.end(), magic.begin(), magic.end());
         at != bytes.end(); at = std::search(at, bytes.end(), magic.begin(), magic.end())) {
      std::memcpy(&*at, "XX", 2);
      ++patched;
    }
    ASSERT_EQ(patched, 1) << "the module holds exactly one version block";
    std::ofstream(copy_, std::ios::binary)
        .write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }
  std::string dir_;
  std::string copy_;
};

TEST_F(UnreadableVersionTest, FailureBoxHasAnEmptyVersion) {
  PointComPortsNowhere();
  Plugin plugin(copy_);
  ASSERT_TRUE(plugin.loaded());
  RecordingHost host;
  EXPECT_EQ(plugin.Run({4, 1, host.hwnd(), nullptr}, host.hwnd()), OPERATION_FAILED);
  auto events = host.events();
  ASSERT_EQ(events.size(), 5u);
  EXPECT_EQ(events[2], BoxEvent("DevKV70 Version: \n\n" + PortFailureText(4), "DevKV70",
                                kFailureBoxStyle, host.hwnd()));
}

}  // namespace
