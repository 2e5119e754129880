// Service records: SHA-256, the store in the registry database (begun, finished, left
// interrupted, two processes at once) and velmora history's three forms.
#include "host/core/service_record.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <set>
#include <string>

#include "host/core/sha256.h"
#include "host/terminal/record_commands.h"
#include "host/tests/test_console.h"
#include "platform/environment.h"
#include "platform/testing/system_for_tests.h"

namespace velmora {
namespace {

namespace fs = std::filesystem;

TEST(Sha256Test, KnownVectors) {
  const std::pair<std::string, const char*> rows[] = {
      {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
      {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
      {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
       "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
      {std::string(1000000, 'a'),
       "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
  };
  for (const auto& [text, digest] : rows) {
    Sha256 whole;
    whole.Update(text.data(), text.size());
    EXPECT_EQ(Sha256::Hex(whole.Final()), digest) << text.size();
    // The same bytes in uneven pieces.
    Sha256 pieces;
    for (std::size_t i = 0; i < text.size();) {
      const std::size_t n = std::min<std::size_t>(text.size() - i, 1 + i % 97);
      pieces.Update(text.data() + i, n);
      i += n;
    }
    EXPECT_EQ(Sha256::Hex(pieces.Final()), digest) << text.size();
  }
}

class ServiceRecordTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = platform_test::MakeTempDir("records_store_");
    platform::SetEnvironment("VELMORA_REGISTRY", (fs::path(dir_) / "registry.db").string());
  }
  void TearDown() override { fs::remove_all(dir_); }

  std::unique_ptr<RecordStore> Store() {
    std::string error;
    std::unique_ptr<RecordStore> store = OpenRecordStore(error);
    EXPECT_TRUE(store) << error;
    return store;
  }
  std::vector<ServiceRecord> List(const RecordFilter& filter = {}) {
    std::vector<ServiceRecord> records;
    std::string error;
    EXPECT_TRUE(Store()->List(filter, records, error)) << error;
    return records;
  }

  std::string dir_;
};

ServiceRecord AnUpgrade() {
  ServiceRecord r = NewRecord("upgrade", 2, "sim:serial=KV70-1");
  r.serial = "KV70-1";
  r.owner1 = "Depot \"North\", bench 3";
  r.hardware = HardwareNumbers{4, 0xFFFF, 8922, 0xFFFF, 1, 0};
  r.applications = {{33, 25, 1, 5}};
  r.firmware =
      FirmwareFacts{"Sample 2.1", "/srv/fw/sample.x", 40000, std::string(64, 'a'), 0x564D0021};
  return r;
}

TEST_F(ServiceRecordTest, ARecordBegunAndNeverFinishedReadsInterrupted) {
  auto store = Store();
  ServiceRecord r = AnUpgrade();
  r.result = "succeeded";  // whatever it says, it is stored as interrupted until finished
  std::string error;
  ASSERT_TRUE(store->Begin(r, error)) << error;
  EXPECT_GT(r.id, 0);
  const std::vector<ServiceRecord> records = List();
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0].result, "interrupted");
  EXPECT_EQ(records[0].ended, "");
  EXPECT_EQ(records[0].serial, "KV70-1");
}

TEST_F(ServiceRecordTest, AFinishedRecordKeepsEveryField) {
  auto store = Store();
  ServiceRecord r = AnUpgrade();
  std::string error;
  ASSERT_TRUE(store->Begin(r, error)) << error;
  r.ended = UtcNow();
  r.result = "failed";
  r.exitStatus = 1;
  r.failureNumber = 405;
  r.failureText = "Programming failed";
  r.eraseReached = true;
  ASSERT_TRUE(store->Finish(r, error)) << error;
  const std::vector<ServiceRecord> records = List();
  ASSERT_EQ(records.size(), 1u);
  const ServiceRecord& back = records[0];
  EXPECT_EQ(RecordJson(back), RecordJson(r));
  EXPECT_EQ(back.owner1, "Depot \"North\", bench 3");
  EXPECT_EQ(back.hardware, r.hardware);
  EXPECT_EQ(back.applications, r.applications);
  ASSERT_TRUE(back.firmware);
  EXPECT_EQ(back.firmware->softwareWord, 0x564D0021u);
  EXPECT_EQ(back.eraseReached, true);
  EXPECT_EQ(back.failureNumber, 405);
  EXPECT_EQ(back.logFile.has_value(), false);
  // A record that is not there cannot be finished.
  r.id += 100;
  EXPECT_FALSE(store->Finish(r, error));
}

TEST_F(ServiceRecordTest, FiltersBySerialSinceResultAndOperation) {
  auto store = Store();
  std::string error;
  const std::pair<const char*, const char*> rows[] = {
      {"upgrade", "KV70-1"}, {"dump", "KV70-2"}, {"config", "KV70-1"}, {"dump", "KV70-1"}};
  for (const auto& [operation, serial] : rows) {
    ServiceRecord r = NewRecord(operation, 1, "sim");
    r.serial = serial;
    ASSERT_TRUE(store->Begin(r, error)) << error;
    r.result = std::string(operation) == "dump" ? "succeeded" : "failed";
    ASSERT_TRUE(store->Finish(r, error)) << error;
  }
  EXPECT_EQ(List({"kv70-1", "", "", ""}).size(), 3u);
  EXPECT_EQ(List({"KV70-1", "", "succeeded", "DUMP"}).size(), 1u);
  EXPECT_EQ(List({"", "", "failed", ""}).size(), 2u);
  EXPECT_EQ(List({"", "2000-01-01T00:00:00Z", "", ""}).size(), 4u);
  EXPECT_EQ(List({"", "2999-01-01T00:00:00Z", "", ""}).size(), 0u);
  // Oldest first.
  const std::vector<ServiceRecord> all = List();
  for (std::size_t i = 1; i < all.size(); ++i) EXPECT_LT(all[i - 1].id, all[i].id);
}

TEST_F(ServiceRecordTest, TwoProcessesWritingAtOnceLoseNothing) {
  constexpr int kEach = 60;
  ASSERT_TRUE(Store());  // the database and its table exist before the two start
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  const std::string who = child == 0 ? "child" : "parent";
  bool ok = true;
  {
    std::string error;
    std::unique_ptr<RecordStore> store = OpenRecordStore(error);
    ok = store != nullptr;
    for (int i = 0; ok && i < kEach; ++i) {
      ServiceRecord r = NewRecord("config", 1, who);
      ok = store->Begin(r, error);
      r.result = "succeeded";
      ok = ok && store->Finish(r, error);
    }
  }
  if (child == 0) ::_exit(ok ? 0 : 1);
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  EXPECT_TRUE(ok);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  const std::vector<ServiceRecord> records = List();
  ASSERT_EQ(records.size(), 2u * kEach);
  std::set<std::int64_t> ids;
  int parent = 0;
  for (const ServiceRecord& r : records) {
    ids.insert(r.id);
    EXPECT_EQ(r.result, "succeeded");
    parent += r.port == "parent";
  }
  EXPECT_EQ(ids.size(), 2u * kEach);
  EXPECT_EQ(parent, kEach);
}

TEST_F(ServiceRecordTest, AForeignDatabaseIsLeftAlone) {
  const std::string path = (fs::path(dir_) / "notes.txt").string();
  std::ofstream(path) << "not a database\n";
  platform::SetEnvironment("VELMORA_REGISTRY", path);
  std::string error;
  EXPECT_FALSE(OpenRecordStore(error));
  EXPECT_NE(error.find("notes.txt"), std::string::npos);
  std::ifstream in(path);
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_EQ(text, "not a database\n");
}

TEST(ServiceRecordTextTest, JsonEscapesDeviceTextsAndCsvQuotes) {
  ServiceRecord r;
  r.id = 7;
  r.started = "2026-12-09T01:02:03Z";
  r.operation = "config";
  r.serial = std::string("KV\"70\x01\xFF", 7);
  r.owner1 = "a,b";
  const std::string json = RecordJson(r);
  EXPECT_NE(json.find(R"("serial":"KV\"70\u0001\u00ff")"), std::string::npos) << json;
  EXPECT_NE(json.find(R"("ended":null)"), std::string::npos);
  EXPECT_NE(json.find(R"("result":"interrupted")"), std::string::npos);
  EXPECT_NE(json.find(R"("failure":null)"), std::string::npos);
  const std::string csv = RecordCsv(r);
  EXPECT_NE(csv.find(",\"a,b\","), std::string::npos) << csv;
  const std::string header = RecordCsvHeader();
  EXPECT_EQ(std::count(header.begin(), header.end(), ','),
            std::count(csv.begin(), csv.end(), ',') - 1);  // one comma inside quotes
}

TEST(ServiceRecordTextTest, SinceTakesADayOrATime) {
  const std::pair<const char*, const char*> good[] = {
      {"2026-12-09", "2026-12-09T00:00:00Z"},
      {"2026-12-09T01:38", "2026-12-09T01:38:00Z"},
      {"2026-12-09 01:38:33", "2026-12-09T01:38:33Z"},
      {"2026-12-09T01:38:33Z", "2026-12-09T01:38:33Z"},
  };
  for (const auto& [text, want] : good) {
    std::string got;
    EXPECT_TRUE(NormaliseSince(text, got)) << text;
    EXPECT_EQ(got, want);
  }
  for (const char* bad :
       {"", "yesterday", "2026-13-01", "2026-12-09T25:00", "2026-12-9", "2026-12-09T01:38:33+02"}) {
    std::string got;
    EXPECT_FALSE(NormaliseSince(bad, got)) << bad;
  }
}

TEST_F(ServiceRecordTest, HistoryPrintsTableJsonAndCsv) {
  auto store = Store();
  std::string error;
  ServiceRecord r = AnUpgrade();
  ASSERT_TRUE(store->Begin(r, error));
  for (int form = 0; form < 3; ++form) {
    testing::TestConsole console;
    HistoryOptions options;
    options.json = form == 1;
    options.csv = form == 2;
    EXPECT_EQ(HistoryCommand(options, console.console()), 0);
    const std::string out = console.Output();
    EXPECT_NE(out.find("interrupted"), std::string::npos) << out;
    if (form == 1) {
      EXPECT_EQ(out, RecordJson(List()[0]) + "\n");
    }
    if (form == 2) {
      EXPECT_EQ(out, RecordCsvHeader() + "\n" + RecordCsv(List()[0]) + "\n");
    }
  }
  testing::TestConsole console;
  HistoryOptions bad;
  bad.filter.result = "won";
  EXPECT_EQ(HistoryCommand(bad, console.console()), 64);
}

}  // namespace
}  // namespace velmora
