// A flash-monitor link over a scripted line, in virtual time, with a run that records
// its reports.
#pragma once
#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "platform/clock.h"
#include "protocol/flashmon_link.h"
#include "protocol/testing/monitor_bytes.h"
#include "protocol/testing/scripted_line.h"
#include "protocol/testing/test_run.h"
#include "resources/testing/kv70_test_module.h"
#include "serial/serial_com.h"

namespace kv70test {

class LinkTest : public ::testing::Test {
 protected:
  void SetUp() override {
    kv70::testing::UseKV70Resources();
    port.Open(1, 1, 0, 0, 6);
    // Replies are scripted per test: one answer (or none) for each request, in order.
    line.SetResponder([this](ScriptedLine& l, const Bytes& written) {
      const size_t n = requests++;
      if (n < answers.size())
        l.Queue(answers[n]);
      else if (answerRest)
        l.Queue(*answerRest);
    });
  }
  void TearDown() override { port.Close(); }

  platform::VirtualClock clock;
  platform::ScopedClock useClock{clock};
  ScriptedLine line;
  TestRun run;
  CSerialCom port;
  CFlashMonLink link{port, run.record};

  std::vector<Bytes> answers;         // answer to request i (empty: silence)
  std::unique_ptr<Bytes> answerRest;  // answer to every later request
  size_t requests = 0;
};

}  // namespace kv70test
