// What the desktop tests share: one QApplication on Qt's offscreen platform, and a test
// case with a temporary directory of its own (registry, data directory, files) that runs
// velmora-gui as a user would (Drive) or as --auto does (RunAuto).
#pragma once
#include <gtest/gtest.h>

#include <QApplication>
#include <QWidget>
#include <filesystem>
#include <functional>
#include <string>

#include "host/desktop/desktop_app.h"

namespace velmora::desktop {

QApplication& App();

// How many times `part` occurs in `text`.
int Count(const std::string& text, const std::string& part);

class DesktopTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  std::string Path(const std::string& name) const { return (dir_ / name).string(); }

  // Runs the app until it finishes; `onWindow` gets each window the backend shows (inside
  // its modal loop) and must answer it. Returns the exit status.
  int Drive(GuiOptions options, int operation, std::function<void(QWidget*)> onWindow);

  // Runs the app as --auto does until it finishes, with what it prints on standard
  // output in out_ and on standard error in err_. Returns the exit status.
  int RunAuto(GuiOptions options);

  // Puts the sample firmware into the catalogue as "Sample application 2.1", as a .reg
  // file that a technician imports would.
  void RegisterSample();

  std::filesystem::path dir_;
  // What the run window showed at the end: the status log, one line each, the result
  // line, and the warning (empty when none was shown).
  std::string runLog_;
  std::string result_;
  std::string warning_;
  std::string out_;
  std::string err_;
};

}  // namespace velmora::desktop
