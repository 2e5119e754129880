// For unit tests of the plug-in's code: the plug-in's resources registered as a module
// and made the calling thread's resource module, as the exports do on entry.
#pragma once
#include <gtest/gtest.h>

#include "platform/winbase.h"

namespace kv70::testing {

// Registers the resource table (once per process) and switches the calling thread to a
// module state whose resources are the plug-in's and whose application name is
// "DevKV70". Stays in force for the rest of the thread. Returns the module.
HMODULE UseKV70Resources();

// The same for the main thread of a test program:
//   ::testing::AddGlobalTestEnvironment(new kv70::testing::KV70ResourcesEnvironment);
// or simply call UseKV70Resources() in a fixture's SetUp.
class KV70ResourcesEnvironment : public ::testing::Environment {
 public:
  void SetUp() override { UseKV70Resources(); }
};

}  // namespace kv70::testing
