#include "platform/handle_table.h"

#include <gtest/gtest.h>

#include <memory>
#include <set>
#include <thread>
#include <vector>

namespace {

struct Opaque;
using Handle = Opaque*;
using Table = platform::HandleTable<Handle, std::shared_ptr<int>>;

std::uintptr_t Value(Handle handle) {
  return reinterpret_cast<std::uintptr_t>(handle);
}
Handle FromValue(std::uintptr_t value) {
  return reinterpret_cast<Handle>(value);
}

// The ranges the platform and framework tables use: events, windows, registry keys and
// bitmaps.
struct Range {
  std::uintptr_t first;
  std::uintptr_t step;
};
constexpr Range kRanges[] = {{0x10000, 4}, {0x20000, 4}, {0x30000, 4}, {0x40000, 8}};

// Each step is an operation on the table and what it must answer. `slot` names the
// handle of the n-th Add in the script.
enum class Op { kAdd, kFind, kRemove };
struct Step {
  Op op;
  int slot;
  bool known;  // Find or Remove: whether the handle names an object
  int value;   // Add: the object stored; Find and Remove of a known handle: expected
};

struct Script {
  const char* name;
  std::vector<Step> steps;
};

const Script kScripts[] = {
    {"found while held, unknown once removed",
     {{Op::kAdd, 0, true, 7},
      {Op::kFind, 0, true, 7},
      {Op::kRemove, 0, true, 7},
      {Op::kFind, 0, false, 0},
      {Op::kRemove, 0, false, 0}}},
    {"a handle removed stays unknown after later additions",
     {{Op::kAdd, 0, true, 1},
      {Op::kRemove, 0, true, 1},
      {Op::kAdd, 1, true, 2},
      {Op::kAdd, 2, true, 3},
      {Op::kFind, 0, false, 0},
      {Op::kFind, 1, true, 2},
      {Op::kFind, 2, true, 3}}},
    {"removing one leaves the others",
     {{Op::kAdd, 0, true, 1},
      {Op::kAdd, 1, true, 2},
      {Op::kAdd, 2, true, 3},
      {Op::kRemove, 1, true, 2},
      {Op::kFind, 0, true, 1},
      {Op::kFind, 1, false, 0},
      {Op::kFind, 2, true, 3}}},
};

TEST(HandleTableTest, ScriptsInEveryRange) {
  for (const auto& range : kRanges) {
    for (const auto& script : kScripts) {
      SCOPED_TRACE(testing::Message() << script.name << " from 0x" << std::hex << range.first);
      Table table(range.first, range.step);
      std::vector<Handle> handles;
      for (const auto& step : script.steps) {
        switch (step.op) {
          case Op::kAdd: {
            Handle handle = table.Add(std::make_shared<int>(step.value));
            ASSERT_EQ(step.slot, static_cast<int>(handles.size()));
            // Handles count up from the range's start, one step each, never reused.
            EXPECT_EQ(Value(handle), range.first + range.step * (handles.size() + 1));
            handles.push_back(handle);
            break;
          }
          case Op::kFind: {
            auto found = table.Find(handles.at(step.slot));
            ASSERT_EQ(found.has_value(), step.known) << "slot " << step.slot;
            if (step.known) {
              EXPECT_EQ(**found, step.value);
            }
            break;
          }
          case Op::kRemove: {
            auto removed = table.Remove(handles.at(step.slot));
            ASSERT_EQ(removed.has_value(), step.known) << "slot " << step.slot;
            if (step.known) {
              EXPECT_EQ(**removed, step.value);
            }
            break;
          }
        }
      }
    }
  }
}

TEST(HandleTableTest, NullForgedAndForeignHandlesNameNothing) {
  Table events(0x10000, 4);
  Table windows(0x20000, 4);
  Handle event = events.Add(std::make_shared<int>(1));
  Handle window = windows.Add(std::make_shared<int>(2));
  const Handle unknown[] = {nullptr, FromValue(Value(event) + 1), FromValue(Value(event) + 4),
                            FromValue(0x10000), window};
  for (Handle handle : unknown) {
    EXPECT_FALSE(events.Find(handle).has_value()) << Value(handle);
    EXPECT_FALSE(events.Remove(handle).has_value()) << Value(handle);
  }
  EXPECT_EQ(events.Size(), 1u);
  EXPECT_FALSE(windows.Find(event).has_value());
}

TEST(HandleTableTest, RemoveHandsTheObjectToTheCaller) {
  Table table(0x40000, 8);
  auto object = std::make_shared<int>(5);
  std::weak_ptr<int> watch = object;
  Handle handle = table.Add(std::move(object));
  {
    auto removed = table.Remove(handle);
    ASSERT_TRUE(removed.has_value());
    EXPECT_FALSE(watch.expired());  // alive while the caller holds it
  }
  EXPECT_TRUE(watch.expired());
  EXPECT_EQ(table.Size(), 0u);
}

TEST(HandleTableTest, EmplaceBuildsTheObjectWithItsOwnHandle) {
  platform::HandleTable<Handle, Handle> table(0x20000, 4);
  Handle seen = nullptr;
  Handle handle = table.Emplace([&](Handle own) {
    seen = own;
    return own;
  });
  EXPECT_EQ(seen, handle);
  EXPECT_EQ(table.Find(handle), handle);
}

TEST(HandleTableTest, ConcurrentAdditionsGetDistinctHandles) {
  Table table(0x10000, 4);
  constexpr int kThreads = 4;
  constexpr int kEach = 500;
  std::vector<std::vector<Handle>> got(kThreads);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < kEach; ++i) got[t].push_back(table.Add(std::make_shared<int>(i)));
    });
  }
  for (auto& thread : threads) thread.join();
  std::set<Handle> distinct;
  for (const auto& list : got) distinct.insert(list.begin(), list.end());
  EXPECT_EQ(distinct.size(), static_cast<std::size_t>(kThreads * kEach));
  EXPECT_EQ(table.Size(), distinct.size());
}

}  // namespace
