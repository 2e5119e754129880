#include <gtest/gtest.h>

#include <cstring>

#include "protocol/config_record_sink.h"
#include "protocol/flashmon_reply.h"
#include "protocol/mem_block.h"
#include "protocol/sector_list.h"
#include "protocol/tests/link_fixture.h"
#include "reporting/failures.h"

namespace kv70test {
namespace {

const Bytes kSilence;

// `count` noise bytes (never an STX), then `tail`.
Bytes Babble(size_t count, const Bytes& tail) {
  Bytes b;
  b.reserve(count + tail.size());
  b.resize(count, 0x55);
  for (auto byte : tail) b.push_back(byte);
  return b;
}

// Runs `body`; returns the CFlashMonException code it threw (0: none), deleting it.
template <typename Body>
int FlashMonCode(Body body) {
  try {
    body();
  } catch (CFlashMonException* e) {
    int code = e->m_code;
    e->Delete();
    return code;
  }
  return 0;
}

template <typename Body>
bool Cancelled(Body body) {
  try {
    body();
  } catch (CUserException* e) {
    e->Delete();
    return true;
  }
  return false;
}

// --- Ping --------------------------------------------------------------------------------

TEST_F(LinkTest, PingTriesTwiceWithAPurgeEach) {
  const struct {
    const char* name;
    std::vector<Bytes> answers;
    BOOL result;
    size_t writes;
  } cases[] = {
      {"first answer", {MonitorFrame(0x00, {})}, TRUE, 1},
      {"answer carries data", {MonitorFrame(0x00, {0x12, 0x34})}, TRUE, 1},
      {"second answer", {kSilence, MonitorFrame(0x00, {})}, TRUE, 2},
      {"wrong command", {MonitorFrame(0x01, {}), MonitorFrame(0x01, {})}, FALSE, 2},
      {"silent", {}, FALSE, 2},
      // A line that never stops sending gives up the read instead of holding the run.
      {"babbling line", {Babble(9000, MonitorFrame(0x00, {}))}, FALSE, 2},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    answers = c.answers;
    requests = 0;
    const size_t writesBefore = line.Writes().size();
    const int purgesBefore = line.Purges();
    EXPECT_EQ(link.Ping(0x00), c.result);
    ASSERT_EQ(line.Writes().size() - writesBefore, c.writes);
    EXPECT_EQ(line.Purges() - purgesBefore, static_cast<int>(c.writes));
    EXPECT_EQ(line.Writes().back(), (Bytes{0x02, 0x00, 0x00, 0x00, 0x00, 0x00, 0x03, 0x00}));
  }
}

// --- EraseSectors --------------------------------------------------------------------------

TEST_F(LinkTest, EraseSendsTheListThenPollsUntilFinished) {
  CSectorList list;
  list.Append(0x02400000);
  list.Append(0x02410000);
  answers = {MonitorFrame(0x01, {}), MonitorFrame(0x02, {0x00}), MonitorFrame(0x02, {}), kSilence,
             MonitorFrame(0x02, {0x01})};
  link.EraseSectors(list, 0x01, 0x02);
  ASSERT_EQ(line.Writes().size(), 5u);
  EXPECT_EQ(line.Writes()[0], (Bytes{0x02, 0x01, 0x00, 0x09, 0x02, 0x02, 0x40, 0x00, 0x00, 0x02,
                                     0x41, 0x00, 0x00, 0x00, 0x91, 0x03, 0x00}));
  for (size_t i = 1; i < 5; ++i)
    EXPECT_EQ(line.Writes()[i], (Bytes{0x02, 0x02, 0x00, 0x00, 0x00, 0x02, 0x03, 0x00}));
  EXPECT_EQ(run.progress, (std::vector<int>{0, 0, 0, 1, 2, 100}));
}

TEST_F(LinkTest, EraseFailures) {
  const struct {
    const char* name;
    std::vector<Bytes> answers;
    int code;
    size_t eraseRequests;
  } cases[] = {
      // The read of a silent line takes the whole 1.0 s: one erase request, then 401.
      {"no answer to the erase", {}, 401, 1},
      {"a frame for another command only", {MonitorFrame(0x07, {})}, 401, 1},
      {"erase failed",
       {MonitorFrame(0x01, {}), MonitorFrame(0x02, {0x03}), MonitorFrame(0x02, {0x02})},
       402,
       1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    answers = c.answers;
    requests = 0;
    const size_t before = line.Writes().size();
    CSectorList list;
    list.Append(0x02400000);
    EXPECT_EQ(FlashMonCode([&] { link.EraseSectors(list, 0x01, 0x02); }), c.code);
    size_t erases = 0;
    for (size_t i = before; i < line.Writes().size(); ++i) erases += line.Writes()[i][1] == 0x01;
    EXPECT_EQ(erases, c.eraseRequests);
  }
}

TEST_F(LinkTest, EraseAnswerLimitIsWallTimeNotProcessorTime) {
  // The erase answer arrives only for the third request: by then more than 1.0 s of the
  // monotonic clock has passed (two read time-outs), whatever the processor did.
  answers = {kSilence, kSilence, MonitorFrame(0x01, {})};
  answerRest = std::make_unique<Bytes>(MonitorFrame(0x02, {0x01}));
  CSectorList list;
  list.Append(0x02400000);
  const std::uint64_t start = clock.NowMs();
  EXPECT_EQ(FlashMonCode([&] { link.EraseSectors(list, 0x01, 0x02); }), 401);
  EXPECT_EQ(line.Writes().size(), 1u);
  EXPECT_EQ(clock.NowMs() - start, 1000u);
}

TEST_F(LinkTest, EraseBusyForeverGives403After300PollsWithProgressBeyond100) {
  answers = {MonitorFrame(0x01, {})};
  answerRest = std::make_unique<Bytes>(MonitorFrame(0x02, {0x00}));
  CSectorList list;
  list.Append(0x02400000);
  EXPECT_EQ(FlashMonCode([&] { link.EraseSectors(list, 0x01, 0x02); }), 403);
  EXPECT_EQ(line.Writes().size(), 301u);
  ASSERT_EQ(run.progress.size(), 301u);  // 0 before the erase, then one per poll
  EXPECT_EQ(run.progress[121], 100);     // 121st poll
  EXPECT_EQ(run.progress[122], 100);     // 122nd poll: 121 * 100 / 120
  EXPECT_EQ(run.progress[123], 101);     // 123rd poll: the first above 100
  EXPECT_EQ(run.progress[300], 249);     // 300th poll: 299 * 100 / 120
  // About five minutes of polling.
  EXPECT_GE(clock.NowMs(), 300u * 1000u);
}

TEST_F(LinkTest, EraseCancelDuringPolls) {
  answers = {MonitorFrame(0x01, {})};
  answerRest = std::make_unique<Bytes>(MonitorFrame(0x02, {0x00}));
  run.onReport = [](TestRun& r) {
    if (r.progress.size() == 5) r.Cancel();
  };
  CSectorList list;
  list.Append(0x02400000);
  EXPECT_TRUE(Cancelled([&] { link.EraseSectors(list, 0x01, 0x02); }));
  // Noticed at the next poll's check, before its status request.
  EXPECT_EQ(line.Writes().size(), 5u);
}

// --- ProgramBlock --------------------------------------------------------------------------

TEST_F(LinkTest, ProgramBlockAnswers) {
  const BYTE data[] = {0xAA, 0xBB, 0xCC, 0xDD};
  const Bytes request = {0x02, 0x03, 0x00, 0x08, 0x00, 0x01, 0x23, 0x45,
                         0xAA, 0xBB, 0xCC, 0xDD, 0x03, 0x82, 0x03, 0x00};
  const std::string waiting =
      "Timeout getting response from KV!  Check the cables!  Waiting for reconnect...";
  const std::string updating = "Updating the software of the KV70...";
  const struct {
    const char* name;
    std::vector<Bytes> answers;
    int code;
    size_t writes;
    std::vector<std::string> statuses;
  } cases[] = {
      {"accepted", {MonitorFrame(0x03, {0x01})}, 0, 1, {}},
      {"refused", {MonitorFrame(0x03, {0x00})}, 405, 1, {}},
      {"silent, then accepted",
       {kSilence, kSilence, MonitorFrame(0x03, {0x01})},
       0,
       3,
       {waiting, waiting, updating}},
      {"two bytes, then accepted",
       {MonitorFrame(0x03, {0x01, 0x01}), MonitorFrame(0x03, {0x01})},
       0,
       2,
       {waiting, updating}},
      {"no data, then refused",
       {MonitorFrame(0x03, {}), MonitorFrame(0x03, {0x00})},
       405,
       2,
       {waiting}},
      {"other value, then accepted",
       {MonitorFrame(0x03, {0x07}), MonitorFrame(0x03, {0x01})},
       0,
       2,
       {waiting, updating}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    answers = c.answers;
    requests = 0;
    run.statuses.clear();
    const size_t before = line.Writes().size();
    CMemBlock block(0x12345, 4, data);
    EXPECT_EQ(FlashMonCode([&] { link.ProgramBlock(block, 0x03); }), c.code);
    ASSERT_EQ(line.Writes().size() - before, c.writes);
    for (size_t i = before; i < line.Writes().size(); ++i) EXPECT_EQ(line.Writes()[i], request);
    EXPECT_EQ(run.statuses, c.statuses);
  }
}

TEST_F(LinkTest, ProgramBlockWaitsForASilentMonitorUntilCancelled) {
  run.onReport = [](TestRun& r) {
    if (r.statuses.size() == 10) r.Cancel();
  };
  const BYTE data[] = {1};
  CMemBlock block(0x02400000, 1, data);
  const std::uint64_t start = clock.NowMs();
  EXPECT_TRUE(Cancelled([&] { link.ProgramBlock(block, 0x03); }));
  EXPECT_EQ(run.statuses.size(), 10u);
  EXPECT_EQ(line.Writes().size(), 10u);
  // Each try waits out the read time-out, then a second before the next.
  EXPECT_EQ(clock.NowMs() - start, 9u * 2000u + 1000u);
}

// --- Reboot, ReadMemory, EraseFileSystem ---------------------------------------------------

TEST_F(LinkTest, SingleExchangeCommands) {
  const struct {
    const char* name;
    std::function<void(CFlashMonLink&)> command;
    std::vector<Bytes> answers;
    int code;
  } cases[] = {
      {"reboot answered",
       [](CFlashMonLink& l) { l.Reboot(0x04); },
       {MonitorFrame(0x04, {0x09})},
       0},
      {"reboot silent", [](CFlashMonLink& l) { l.Reboot(0x04); }, {}, 406},
      {"erase FFS answered",
       [](CFlashMonLink& l) { l.EraseFileSystem(0x0D); },
       {MonitorFrame(0x0D, {})},
       0},
      {"erase FFS silent", [](CFlashMonLink& l) { l.EraseFileSystem(0x0D); }, {}, 414},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    answers = c.answers;
    requests = 0;
    const size_t before = line.Writes().size();
    EXPECT_EQ(FlashMonCode([&] { c.command(link); }), c.code);
    EXPECT_EQ(line.Writes().size() - before, 1u);
  }
}

Bytes Cat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

// Once a reply's length is in, the port hears how many bytes are still to come (its
// data, checksum and ETX), once a frame; a frame that fails a check after that takes the
// hint back, and a read that ends without a frame leaves none behind.
TEST_F(LinkTest, AReplyTellsThePortHowMuchIsStillToCome) {
  Bytes bad = MonitorFrame(0x05, {0x11, 0x22, 0x33, 0x44});
  bad[bad.size() - 2] ^= 0xFF;  // the checksum's low byte
  const struct {
    const char* name;
    Bytes stream;
    bool complete;
    std::vector<DWORD> hints;
  } cases[] = {
      {"four data bytes", MonitorFrame(0x05, {1, 2, 3, 4}), true, {7}},
      {"no data", MonitorFrame(0x05, {}), true, {3}},
      {"a full block", MonitorFrame(0x05, Bytes(1024, 0x5A)), true, {1027}},
      {"another command's frame first",
       Cat({MonitorFrame(0x06, {9}), MonitorFrame(0x05, {1})}),
       true,
       {4}},
      {"a bad checksum, then a good frame", Cat({bad, MonitorFrame(0x05, {1})}), true, {7, 0, 4}},
      {"cut short", Bytes{0x02, 0x05, 0x00, 0x04, 0x01}, false, {7, 0}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::size_t before = line.Hints().size();
    line.Queue(c.stream);
    CFlashMonReply reply(0x05);
    EXPECT_EQ(reply.Read(port) != FALSE, c.complete);
    EXPECT_EQ(std::vector<DWORD>(line.Hints().begin() + before, line.Hints().end()), c.hints);
  }
}

TEST_F(LinkTest, ReadMemoryCopiesExactlyTheBytesAsked) {
  const struct {
    const char* name;
    std::vector<Bytes> answers;
    int code;
  } cases[] = {
      {"four bytes", {MonitorFrame(0x05, {0xDE, 0xAD, 0xBE, 0xEF})}, 0},
      {"silent", {}, 407},
      {"three bytes", {MonitorFrame(0x05, {0xDE, 0xAD, 0xBE})}, 408},
      {"five bytes", {MonitorFrame(0x05, {0xDE, 0xAD, 0xBE, 0xEF, 0x00})}, 408},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    answers = c.answers;
    requests = 0;
    CMemBlock block(0x02800000, 4);
    EXPECT_EQ(FlashMonCode([&] { link.ReadMemory(block, 0x05); }), c.code);
    EXPECT_EQ(line.Writes().back(), (Bytes{0x02, 0x05, 0x00, 0x06, 0x02, 0x80, 0x00, 0x00, 0x00,
                                           0x04, 0x00, 0x91, 0x03, 0x00}));
    const Bytes expected = c.code == 0 ? Bytes{0xDE, 0xAD, 0xBE, 0xEF} : Bytes{0, 0, 0, 0};
    EXPECT_EQ(Bytes(block.GetData(), block.GetData() + 4), expected);
  }
}

// --- ReadConfiguration ---------------------------------------------------------------------

class FakeConfig : public CConfigRecordSink {
 public:
  DWORD GetSize() const override { return 184; }
  BOOL Decode(const BYTE* data, DWORD length) override {
    ++decodes;
    if (accept) received.assign(data, data + length);
    return accept;
  }
  bool accept = true;
  int decodes = 0;
  Bytes received;
};

TEST_F(LinkTest, ReadConfigurationNeedsTheRecordSizeAndItsConsent) {
  Bytes record(184);
  for (size_t i = 0; i < record.size(); ++i) record[i] = static_cast<BYTE>(i);
  const struct {
    const char* name;
    std::vector<Bytes> answers;
    bool accept;
    int code;
    int decodes;
  } cases[] = {
      {"accepted", {MonitorFrame(0x06, record)}, true, 0, 1},
      {"silent", {}, true, 411, 0},
      {"183 bytes", {MonitorFrame(0x06, Bytes(record.begin(), record.end() - 1))}, true, 411, 0},
      {"185 bytes", {MonitorFrame(0x06, Bytes(185, 0))}, true, 411, 0},
      {"rejected by the record", {MonitorFrame(0x06, record)}, false, 411, 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    answers = c.answers;
    requests = 0;
    FakeConfig config;
    config.accept = c.accept;
    EXPECT_EQ(FlashMonCode([&] { link.ReadConfiguration(config, 0x06); }), c.code);
    EXPECT_EQ(config.decodes, c.decodes);
    if (c.code == 0) {
      EXPECT_EQ(config.received, record);
    }
    EXPECT_EQ(line.Writes().back(), (Bytes{0x02, 0x06, 0x00, 0x00, 0x00, 0x06, 0x03, 0x00}));
  }
}

// --- RunStatusCommand ----------------------------------------------------------------------

TEST_F(LinkTest, RunStatusCommandWaitsThenChecksTheFirstByte) {
  const struct {
    const char* name;
    std::vector<Bytes> answers;
    DWORD wait;
    int code;
    size_t writes;
    std::uint64_t elapsedMs;
  } cases[] = {
      {"status 1", {MonitorFrame(0x07, {0x01})}, 5, 0, 1, 5000},
      {"status 1 with more data", {MonitorFrame(0x07, {0x01, 0x00})}, 5, 0, 1, 5000},
      {"status 0 at once", {MonitorFrame(0x07, {0x00})}, 5, 412, 1, 5000},
      {"no data", {MonitorFrame(0x07, {})}, 5, 412, 1, 5000},
      {"second attempt", {kSilence, MonitorFrame(0x07, {0x01})}, 5, 0, 2, 11000},
      {"silent", {}, 5, 413, 2, 12000},
      {"silent without wait", {}, 0, 413, 2, 2000},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    answers = c.answers;
    requests = 0;
    const size_t before = line.Writes().size();
    const int purges = line.Purges();
    const std::uint64_t start = clock.NowMs();
    EXPECT_EQ(FlashMonCode([&] { link.RunStatusCommand(0x07, c.wait); }), c.code);
    EXPECT_EQ(line.Writes().size() - before, c.writes);
    EXPECT_EQ(line.Purges(), purges);
    EXPECT_EQ(clock.NowMs() - start, c.elapsedMs);
  }
}

// --- Write failures ------------------------------------------------------------------------

TEST_F(LinkTest, AWriteFailureIsShownAndTheMissingReplyDecides) {
  line.SetWriteError(ERROR_GEN_FAILURE);
  EXPECT_EQ(FlashMonCode([&] { link.Reboot(0x04); }), 406);
  ASSERT_EQ(run.boxes.size(), 1u);
  EXPECT_NE(run.boxes[0].text.find("COM Failure! [304]"), std::string::npos);
  EXPECT_FALSE(link.Ping(0x00));
  EXPECT_EQ(run.boxes.size(), 3u);
}

}  // namespace
}  // namespace kv70test
