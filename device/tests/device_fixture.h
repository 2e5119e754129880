// A CKV70Device over a scripted line and a scripted ROM, in virtual time.
#pragma once
#include <gtest/gtest.h>

#include "device/kv70_device.h"
#include "device/tests/failure_text.h"
#include "device/tests/scripted_rom.h"
#include "platform/clock.h"
#include "protocol/testing/scripted_line.h"
#include "protocol/testing/test_run.h"
#include "reporting/failures.h"
#include "resources/testing/kv70_test_module.h"
#include "serial/serial_com.h"

namespace kv70test {

class DeviceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    kv70::testing::UseKV70Resources();
    port.Open(1, 1, 0, 0, 6);
  }
  void TearDown() override { port.Close(); }

  platform::VirtualClock clock;
  platform::ScopedClock useClock{clock};
  ScriptedLine line;
  ScriptedRom rom{line};
  TestRun run;
  CSerialCom port;
  CKV70Device device{port, run.record};
};

}  // namespace kv70test
