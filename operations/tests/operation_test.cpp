// The operation model: default texts, strncpy copying, the page table, and the three
// operations' names, descriptions, pages and texts.
#include "operations/operation.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>

#include "framework/afxwin.h"
#include "operations/config_retrieval_operation.h"
#include "operations/file_system_dump_operation.h"
#include "operations/software_upgrade_operation.h"
#include "resources/testing/kv70_test_module.h"

namespace {

constexpr char kConnect[] =
    "Connect the KV70 (top or bottom port) to COM%d of the PC using the DB9 cable.";

// An operation that answers no text of its own.
class BareOperation : public COperation {
 public:
  explicit BareOperation(int pages = 0) : COperation(pages) {}
  const char* GetName() override { return "bare"; }
  const char* GetDescription() override { return "bare"; }
  bool Execute(RunRecord*) override { return true; }
};

class OperationTest : public ::testing::Test {
 protected:
  void SetUp() override { kv70::testing::UseKV70Resources(); }
};

std::string Text(COperation& op, int index, bool* result = nullptr) {
  char buffer[512];
  std::memset(buffer, 'x', sizeof buffer);
  bool ok = op.GetText(index, buffer, sizeof buffer);
  if (result) *result = ok;
  return buffer;
}

TEST_F(OperationTest, DefaultTextsAreTheConnectionAndCompletionStrings) {
  BareOperation op;
  bool ok = false;
  EXPECT_EQ(Text(op, 1, &ok), kConnect);
  EXPECT_TRUE(ok);
  EXPECT_EQ(Text(op, 3, &ok), "The operation was completed successfully.");
  EXPECT_TRUE(ok);
}

TEST_F(OperationTest, DefaultForOtherIndexesWritesOneZeroByteAndFails) {
  BareOperation op;
  for (int index : {0, 2, 4, -1}) {
    char buffer[8];
    std::memset(buffer, 'x', sizeof buffer);
    EXPECT_FALSE(op.GetText(index, buffer, sizeof buffer)) << index;
    EXPECT_EQ(buffer[0], '\0');
    EXPECT_EQ(buffer[1], 'x') << "only one byte is written";
  }
}

TEST_F(OperationTest, DefaultWithNoRoomWritesNothing) {
  BareOperation op;
  char byte = 'x';
  EXPECT_FALSE(op.GetText(0, &byte, 0));
  EXPECT_EQ(byte, 'x');
}

TEST_F(OperationTest, TextsAreCopiedWithStrncpySemantics) {
  BareOperation op;
  char buffer[100];
  std::memset(buffer, 'x', sizeof buffer);
  EXPECT_TRUE(op.GetText(1, buffer, 7));
  EXPECT_EQ(std::string(buffer, 7), "Connect");
  EXPECT_EQ(buffer[7], 'x');
  std::memset(buffer, 'x', sizeof buffer);
  EXPECT_TRUE(op.GetText(3, buffer, 60));
  const size_t length = std::strlen("The operation was completed successfully.");
  for (size_t i = length; i < 60; ++i) EXPECT_EQ(buffer[i], '\0') << i;
  EXPECT_EQ(buffer[60], 'x');
}

TEST_F(OperationTest, PageTableStartsEmptyAndKeepsWhatIsSet) {
  BareOperation op(2);
  EXPECT_EQ(op.GetPageCount(), 2);
  EXPECT_EQ(op.GetPageAt(0), nullptr);
  EXPECT_EQ(op.GetPageAt(1), nullptr);
  CPropertyPage page(111);
  op.SetPage(1, &page);
  EXPECT_EQ(op.GetPageAt(1), &page);
  EXPECT_EQ(op.GetPageAt(0), nullptr);
}

struct Expected {
  const char* name;
  const char* description;
  int pages;
  std::string summary;
  const char* lower;
  const char* completion;
  const char* pageCaption;
};

TEST_F(OperationTest, TheThreeOperationsAnswerTheirOwnTexts) {
  std::unique_ptr<COperation> ops[] = {std::make_unique<CSoftwareUpgradeOperation>(),
                                       std::make_unique<CConfigRetrievalOperation>(),
                                       std::make_unique<CFileSystemDumpOperation>()};
  const Expected rows[] = {
      {"Software upgrade", "Loads new application software into the KV70.", 1,
       "Operation to perform:\r\n\tSoftware upgrade\r\n\r\nUpgrade software to:\r\n\t",
       "software upgrade", "The software upgrade was completed successfully.",
       "Velmora - KV70 Software Selection"},
      {"Configuration retrieval", "Reads the configuration information from the KV70.", 0,
       "Operation to perform:\r\n\tConfiguration retrieval", "configuration retrieval",
       "The configuration information was retrieved successfully.", nullptr},
      {"File system dump",
       "Takes a copy of the KV70's data file system and stores it to a file on your PC.", 1,
       "Operation to perform:\r\n\tFile system dump\r\n\r\nFile system log file:\r\n\t",
       "file system dump", "The file system dump completed successfully.",
       "Velmora - KV70 Log File Selection"},
  };
  for (int i = 0; i < 3; ++i) {
    SCOPED_TRACE(rows[i].name);
    COperation& op = *ops[i];
    EXPECT_STREQ(op.GetName(), rows[i].name);
    EXPECT_STREQ(op.GetDescription(), rows[i].description);
    EXPECT_EQ(op.GetPageCount(), rows[i].pages);
    bool ok = false;
    EXPECT_EQ(Text(op, 0, &ok), rows[i].summary);
    EXPECT_TRUE(ok);
    EXPECT_EQ(Text(op, 1, &ok), kConnect);
    EXPECT_TRUE(ok);
    EXPECT_EQ(Text(op, 2, &ok), rows[i].lower);
    EXPECT_TRUE(ok);
    EXPECT_EQ(Text(op, 3, &ok), rows[i].completion);
    EXPECT_TRUE(ok);
    Text(op, 4, &ok);
    EXPECT_FALSE(ok);
    if (rows[i].pageCaption) {
      ASSERT_NE(op.GetPageAt(0), nullptr);
      EXPECT_EQ(op.GetPageAt(0), op.GetPageAt(0));
      EXPECT_EQ(op.GetPageAt(0)->GetCaption(), rows[i].pageCaption);
    }
  }
}

TEST_F(OperationTest, NamesStayValidWhileTheOperationLives) {
  CConfigRetrievalOperation op;
  const char* name = op.GetName();
  char buffer[64];
  op.GetText(0, buffer, sizeof buffer);
  EXPECT_EQ(name, op.GetName());
  EXPECT_STREQ(name, "Configuration retrieval");
}

}  // namespace
