// Sector tables, the garbage-collection decision and the erase steps, against a scripted
// flash monitor.
#include <gtest/gtest.h>

#include "device/tests/flash_fixture.h"
#include "protocol/sector_list.h"

namespace kv70test {
namespace {

std::vector<DWORD> Every(DWORD first, DWORD step, DWORD last) {
  std::vector<DWORD> out;
  for (DWORD a = first; a <= last; a += step) out.push_back(a);
  return out;
}

std::vector<DWORD> Join(std::initializer_list<std::vector<DWORD>> parts) {
  std::vector<DWORD> out;
  for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

const std::vector<DWORD> kTableA = Join({Every(0x02400000, 0x10000, 0x024F0000),
                                         {0x024F8000, 0x024FA000, 0x024FC000},
                                         Every(0x02500000, 0x10000, 0x025F0000),
                                         {0x025F8000, 0x025FA000}});
const std::vector<DWORD> kTableB = {
    0x02400000, 0x02404000, 0x02406000, 0x02408000, 0x02410000, 0x02420000, 0x02430000, 0x02440000,
    0x02450000, 0x02460000, 0x02470000, 0x02480000, 0x02490000, 0x024A0000, 0x024B0000, 0x024C0000,
    0x024D0000, 0x024E0000, 0x024F0000, 0x02500000, 0x02504000, 0x02506000, 0x02508000, 0x02510000,
    0x02520000, 0x02530000, 0x02540000, 0x02550000, 0x02560000, 0x02570000, 0x02580000, 0x02590000,
    0x025A0000, 0x025B0000, 0x025C0000, 0x025D0000, 0x025E0000};
const std::vector<DWORD> kTableC =
    Join({Every(0x02400000, 0x10000, 0x025F0000), {0x025F8000, 0x025FA000}});
const std::vector<DWORD> kTableD = Join(
    {{0x02400000, 0x02404000, 0x02406000, 0x02408000}, Every(0x02410000, 0x10000, 0x025E0000)});

std::vector<DWORD> ListOf(CSectorList& list) {
  std::vector<DWORD> out;
  DWORD a = 0;
  list.Rewind();
  while (list.GetNext(a)) out.push_back(a);
  return out;
}

TEST_F(FlashTest, SectorTablesByFlashType) {
  ASSERT_EQ(kTableA.size(), 37u);
  ASSERT_EQ(kTableB.size(), 37u);
  ASSERT_EQ(kTableC.size(), 34u);
  ASSERT_EQ(kTableD.size(), 34u);
  const struct {
    WORD flashType;
    const std::vector<DWORD>* table;
  } cases[] = {
      {8922, &kTableA}, {215, &kTableA},  {8795, &kTableB},
      {91, &kTableB},   {8900, &kTableC}, {8777, &kTableD},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.flashType);
    UseRecord({.flashType = c.flashType});
    CSectorList list;
    ASSERT_EQ(Failure([&] { device.BuildSectorList(list); }), "");
    EXPECT_EQ(list.GetCount(), c.table->size());
    EXPECT_EQ(ListOf(list), *c.table);
  }
}

TEST_F(FlashTest, UnknownFlashTypeBuildsNothing) {
  for (WORD type : {0, 1, 92, 8923, 0xFFFF}) {
    SCOPED_TRACE(type);
    UseRecord({.flashType = type});
    CSectorList list;
    EXPECT_EQ(Failure([&] { device.BuildSectorList(list); }), "D519");
    EXPECT_EQ(list.GetCount(), 0);
    EXPECT_EQ(Failure([&] { device.EraseProgramFlash(); }), "D519");
  }
  EXPECT_TRUE(requests.empty());
  EXPECT_TRUE(run.statuses.empty());
}

// The requests of one erase: garbage collection and record re-read where the device
// needs them, then the erase and its status polls.
TEST_F(FlashTest, GarbageCollectionFollowsFlashTypeAndInfo) {
  const struct {
    WORD flashType;
    WORD info0;
    WORD info1;
    bool collects;
  } cases[] = {
      {215, 4, 245, false},         {215, 4, 246, true},          {215, 5, 0xFFFF, true},
      {215, 0xFFFF, 0xFFFF, false}, {215, 0xFFFF, 300, true},     {8922, 4, 0xFFFF, false},
      {8922, 5, 0, true},           {8900, 0, 0, false},          {8900, 0, 246, true},
      {8777, 0, 0, true},           {8777, 0xFFFF, 0xFFFF, true}, {91, 4, 245, true},
      {8795, 0, 0, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.flashType << " " << c.info0 << " " << c.info1);
    requests.clear();
    counts.clear();
    run.statuses.clear();
    UseRecord({.flashType = c.flashType, .info0 = c.info0, .info1 = c.info1});
    ASSERT_EQ(Failure([&] { device.EraseProgramFlash(); }), "");
    // The default scripted monitor reports the erase finished at the first poll.
    const std::vector<BYTE> expected =
        c.collects ? std::vector<BYTE>{0x07, 0x06, 0x01, 0x02} : std::vector<BYTE>{0x01, 0x02};
    EXPECT_EQ(Commands(), expected);
    const std::vector<std::string> statuses =
        c.collects ? std::vector<std::string>{"Collecting garbage...", "Erasing program flash..."}
                   : std::vector<std::string>{"Erasing program flash..."};
    EXPECT_EQ(run.statuses, statuses);
  }
}

TEST_F(FlashTest, EraseRequestCarriesTheTableInOrder) {
  UseRecord({.flashType = 91});
  ASSERT_EQ(Failure([&] { device.EraseProgramFlash(); }), "");
  EXPECT_EQ(ErasedSectors(), kTableB);
  // The erase frame itself: count byte 37, then the addresses big-endian.
  const Bytes& erase = requests[2];
  ASSERT_EQ(erase.size(), 8u + 1 + 4 * 37);
  EXPECT_EQ((Bytes{erase.begin(), erase.begin() + 13}),
            (Bytes{0x02, 0x01, 0x00, 0x95, 0x25, 0x02, 0x40, 0x00, 0x00, 0x02, 0x40, 0x40, 0x00}));
}

TEST_F(FlashTest, CollectionWaitsFiveSecondsAndRereadsTheRecord) {
  UseRecord({.flashType = 8777});
  // The collection changes the record: the erase uses the record read afterwards.
  record = MakeRecord({.flashType = 8900});
  const std::uint64_t before = clock.NowMs();
  ASSERT_EQ(Failure([&] { device.EraseProgramFlash(); }), "");
  EXPECT_GE(clock.NowMs() - before, 5000u);
  EXPECT_EQ(device.GetConfig().FlashType(), 8900);
  EXPECT_EQ(ErasedSectors(), kTableC);
}

TEST_F(FlashTest, FailedCollectionBecomes803) {
  const struct {
    const char* name;
    std::function<std::optional<Bytes>(BYTE, int, const Bytes&)> answer;
    std::set<BYTE> silent;
  } cases[] = {
      {"collection refused",
       [](BYTE c, int, const Bytes&) -> std::optional<Bytes> {
         if (c == 0x07) return Bytes{0x00};
         return std::nullopt;
       },
       {}},
      {"collection without data",
       [](BYTE c, int, const Bytes&) -> std::optional<Bytes> {
         if (c == 0x07) return Bytes{};
         return std::nullopt;
       },
       {}},
      {"collection unanswered", nullptr, {0x07}},
      {"record refused",
       [](BYTE c, int, const Bytes&) -> std::optional<Bytes> {
         if (c == 0x06) return Bytes(183, 0);
         return std::nullopt;
       },
       {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    requests.clear();
    UseRecord({.flashType = 8777});
    answer = c.answer;
    silent = c.silent;
    EXPECT_EQ(Failure([&] { device.EraseProgramFlash(); }), "B803");
    // Nothing erased.
    for (BYTE command : Commands()) EXPECT_NE(command, 0x01);
  }
}

TEST_F(FlashTest, EraseFailuresPassThrough) {
  UseRecord({});
  answer = [](BYTE c, int, const Bytes&) -> std::optional<Bytes> {
    if (c == 0x02) return Bytes{0x02};
    return std::nullopt;
  };
  EXPECT_EQ(Failure([&] { device.EraseProgramFlash(); }), "F402");
}

TEST_F(FlashTest, FileSystemErase) {
  const std::uint64_t before = clock.NowMs();
  ASSERT_EQ(Failure([&] { device.EraseFileSystemFlash(); }), "");
  EXPECT_EQ(Commands(), std::vector<BYTE>{0x0D});
  EXPECT_EQ(requests[0], (Bytes{0x02, 0x0D, 0x00, 0x00, 0x00, 0x0D, 0x03, 0x00}));
  EXPECT_EQ(run.statuses, std::vector<std::string>{"Erasing file system flash..."});
  EXPECT_GE(clock.NowMs() - before, 120000u);

  silent = {0x0D};
  EXPECT_EQ(Failure([&] { device.EraseFileSystemFlash(); }), "F414");
}

}  // namespace
}  // namespace kv70test
