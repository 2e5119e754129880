// The progress and cancel points of a long loop, item by item.
#include "reporting/periodic_progress.h"

#include <gtest/gtest.h>

#include <vector>

#include "framework/afx.h"
#include "platform/sync.h"
#include "reporting/testing/recording_host.h"
#include "resources/testing/kv70_test_module.h"

namespace {

using kv70::testing::HostEvent;
using kv70::testing::RecordingHost;

constexpr int kNever = -1;

struct Case {
  const char* name;
  DWORD period;
  CPeriodicProgress::Start start;
  CPeriodicProgress::Order order;
  int items;
  int cancelBefore;           // the host cancels just before this item; kNever: not at all
  std::vector<int> reported;  // the items whose number was sent as progress
  int cancelledAt;            // the item whose step threw; kNever: none did
};

const Case kCases[] = {
    {"monitor chunks: every 4th from the first",
     4,
     CPeriodicProgress::FROM_FIRST_ITEM,
     CPeriodicProgress::CANCEL_THEN_PROGRESS,
     10,
     kNever,
     {0, 4, 8},
     kNever},
    {"S-records: every 1501st, first at 1500",
     1501,
     CPeriodicProgress::AFTER_FIRST_PERIOD,
     CPeriodicProgress::CANCEL_THEN_PROGRESS,
     3100,
     kNever,
     {1500, 3001},
     kNever},
    {"file-system blocks: every 33rd, first at 32",
     33,
     CPeriodicProgress::AFTER_FIRST_PERIOD,
     CPeriodicProgress::PROGRESS_THEN_CANCEL,
     100,
     kNever,
     {32, 65, 98},
     kNever},
    {"a loop shorter than its first period reports nothing",
     33,
     CPeriodicProgress::AFTER_FIRST_PERIOD,
     CPeriodicProgress::PROGRESS_THEN_CANCEL,
     32,
     kNever,
     {},
     kNever},
    {"a period of 1 reports every item",
     1,
     CPeriodicProgress::AFTER_FIRST_PERIOD,
     CPeriodicProgress::CANCEL_THEN_PROGRESS,
     3,
     kNever,
     {0, 1, 2},
     kNever},
    {"a period of 0 counts as 1",
     0,
     CPeriodicProgress::FROM_FIRST_ITEM,
     CPeriodicProgress::CANCEL_THEN_PROGRESS,
     2,
     kNever,
     {0, 1},
     kNever},
    // A cancel between report points is noticed at the next one; cancel-first sends no
    // progress there, progress-first sends it and then stops.
    {"cancel first: no progress at the cancelling item",
     4,
     CPeriodicProgress::FROM_FIRST_ITEM,
     CPeriodicProgress::CANCEL_THEN_PROGRESS,
     10,
     5,
     {0, 4},
     8},
    {"progress first: the cancelling item still reports",
     33,
     CPeriodicProgress::AFTER_FIRST_PERIOD,
     CPeriodicProgress::PROGRESS_THEN_CANCEL,
     100,
     40,
     {32, 65},
     65},
    {"a cancel before the very first item stops it",
     4,
     CPeriodicProgress::FROM_FIRST_ITEM,
     CPeriodicProgress::CANCEL_THEN_PROGRESS,
     10,
     0,
     {},
     0},
    {"a cancel after the last report point goes unnoticed",
     1501,
     CPeriodicProgress::AFTER_FIRST_PERIOD,
     CPeriodicProgress::CANCEL_THEN_PROGRESS,
     1600,
     1501,
     {1500},
     kNever},
};

TEST(PeriodicProgressTest, ReportsAndCancelsAtTheLoopsItems) {
  kv70::testing::UseKV70Resources();
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    RecordingHost host;
    platform::Event cancel;
    const RunRecord record{1, 0, host.hwnd(), cancel.get()};
    CPeriodicProgress progress(record, c.period, c.start, c.order);
    int asked = 0;
    int cancelledAt = kNever;
    for (int item = 0; item < c.items; ++item) {
      if (item == c.cancelBefore) cancel.Set();
      try {
        progress.Step([&] {
          ++asked;
          return item;
        });
      } catch (CUserException* failure) {
        failure->Delete();
        cancelledAt = item;
        break;
      }
    }
    std::vector<HostEvent> expected;
    for (int item : c.reported) expected.push_back(kv70::testing::ProgressEvent(item));
    EXPECT_EQ(host.events(), expected);
    EXPECT_EQ(cancelledAt, c.cancelledAt);
    // The position is worked out only where it is sent.
    EXPECT_EQ(asked, static_cast<int>(c.reported.size()));
  }
}

}  // namespace
