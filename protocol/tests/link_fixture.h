// A flash-monitor link over a scripted line, in virtual time, with a run that records
// its reports.
#pragma once
#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "platform/clock.h"
#include "protocol/flashmon_link.h"
#include "protocol/testing/scripted_line.h"
#include "protocol/testing/test_run.h"
#include "resources/testing/kv70_test_module.h"
#include "serial/serial_com.h"

namespace kv70test {

// A reply frame as a monitor sends it.
inline Bytes MonitorReply(BYTE command, const Bytes& data) {
  Bytes f{0x02, command, static_cast<BYTE>(data.size() >> 8), static_cast<BYTE>(data.size())};
  WORD sum = static_cast<WORD>(command + f[2] + f[3]);
  for (BYTE b : data) sum = static_cast<WORD>(sum + b);
  f.insert(f.end(), data.begin(), data.end());
  f.push_back(static_cast<BYTE>(sum >> 8));
  f.push_back(static_cast<BYTE>(sum));
  f.push_back(0x03);
  return f;
}

class LinkTest : public ::testing::Test {
 protected:
  void SetUp() override {
    kv70::testing::UseKV70Resources();
    port.Open(1, 1, 0, 0, 6);
    // Replies are scripted per test: one answer (or none) for each request, in order.
    line.SetResponder([this](ScriptedLine& l, const Bytes& written) {
      const size_t n = requests++;
      if (n < answers.size()) l.Queue(answers[n]);
      else if (answerRest) l.Queue(*answerRest);
    });
  }
  void TearDown() override { port.Close(); }

  platform::VirtualClock clock;
  platform::ScopedClock useClock{clock};
  ScriptedLine line;
  TestRun run;
  CSerialCom port;
  CFlashMonLink link{port, run.record};

  std::vector<Bytes> answers;             // answer to request i (empty: silence)
  std::unique_ptr<Bytes> answerRest;      // answer to every later request
  size_t requests = 0;
};

}  // namespace kv70test
