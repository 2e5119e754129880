// FakeDevice.so, the tests' own plug-in, loaded once through its exports as the hosts
// load any plug-in, and the operations whose pages the tests drive.
#pragma once
#include "host/core/plugin_library.h"

namespace velmora::testing {

constexpr int kInstall = 0;  // a page with a list of packages
constexpr int kReadout = 1;  // no pages
constexpr int kLogSave = 2;  // a page with an output file's field

inline PluginLibrary& Fake() {
  static PluginLibrary library(FAKE_PLUGIN_PATH);
  return library;
}

}  // namespace velmora::testing
