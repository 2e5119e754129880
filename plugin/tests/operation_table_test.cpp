// The operation table: fixed order, count, destruction, and the memory-failure path.
#include "plugin/operation_table.h"

#include <gtest/gtest.h>

#include <new>

#include "framework/afx.h"
#include "operations/config_retrieval_operation.h"
#include "operations/file_system_dump_operation.h"
#include "operations/operation.h"
#include "operations/software_upgrade_operation.h"
#include "resources/testing/kv70_test_module.h"

namespace {

int gAlive = 0;

class CountedOperation : public COperation {
 public:
  CountedOperation() : COperation(0) { ++gAlive; }
  ~CountedOperation() override { --gAlive; }
  const char* GetName() override { return "counted"; }
  const char* GetDescription() override { return "counted"; }
  bool Execute(RunRecord*) override { return true; }
};

COperation* NewCounted() {
  return new CountedOperation;
}
COperation* OutOfFrameworkMemory() {
  AfxThrowMemoryException();
}
COperation* OutOfMemory() {
  throw std::bad_alloc();
}

class OperationTableTest : public ::testing::Test {
 protected:
  void SetUp() override {
    kv70::testing::UseKV70Resources();
    gAlive = 0;
  }
  void TearDown() override { DestroyOperationTable(); }
};

TEST_F(OperationTableTest, EmptyBeforeBuilding) {
  EXPECT_EQ(GetOperationCount(), 0);
  EXPECT_EQ(GetOperationAt(0), nullptr);
}

TEST_F(OperationTableTest, HoldsTheThreeOperationsInOrder) {
  ASSERT_TRUE(BuildOperationTable());
  ASSERT_EQ(GetOperationCount(), 3);
  EXPECT_NE(dynamic_cast<CSoftwareUpgradeOperation*>(GetOperationAt(0)), nullptr);
  EXPECT_NE(dynamic_cast<CConfigRetrievalOperation*>(GetOperationAt(1)), nullptr);
  EXPECT_NE(dynamic_cast<CFileSystemDumpOperation*>(GetOperationAt(2)), nullptr);
  EXPECT_EQ(GetOperationAt(3), nullptr);
  EXPECT_EQ(GetOperationAt(-1), nullptr);
}

TEST_F(OperationTableTest, DestroyDeletesEveryOperationAndEmpties) {
  const OperationFactory factories[] = {NewCounted, NewCounted, NewCounted};
  ASSERT_TRUE(BuildOperationTable(factories));
  EXPECT_EQ(gAlive, 3);
  DestroyOperationTable();
  EXPECT_EQ(gAlive, 0);
  EXPECT_EQ(GetOperationCount(), 0);
  EXPECT_EQ(GetOperationAt(0), nullptr);
}

TEST_F(OperationTableTest, MemoryExhaustionDestroysWhatWasBuiltAndFails) {
  const OperationFactory frameworkFailure[] = {NewCounted, NewCounted, OutOfFrameworkMemory};
  const OperationFactory languageFailure[] = {NewCounted, OutOfMemory, NewCounted};
  for (auto factories : {std::span<const OperationFactory>(frameworkFailure),
                         std::span<const OperationFactory>(languageFailure)}) {
    EXPECT_FALSE(BuildOperationTable(factories));
    EXPECT_EQ(gAlive, 0);
    EXPECT_EQ(GetOperationCount(), 0);
    EXPECT_EQ(GetOperationAt(0), nullptr);
  }
}

TEST_F(OperationTableTest, CanBeBuiltAgainAfterDestroy) {
  ASSERT_TRUE(BuildOperationTable());
  DestroyOperationTable();
  ASSERT_TRUE(BuildOperationTable());
  EXPECT_EQ(GetOperationCount(), 3);
}

}  // namespace
