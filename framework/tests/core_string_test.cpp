// CString operations, formatting, string-table loading across module states, and
// lstrcpyn-style copying.
#include <gtest/gtest.h>

#include <cstring>
#include <thread>

#include "framework/afx.h"
#include "framework/tests/core_test_module.h"

namespace {

TEST(CoreString, NullTextsReadAsEmpty) {
  CString fromNull(static_cast<const char*>(nullptr));
  EXPECT_TRUE(fromNull.IsEmpty());
  CString s("abc");
  s = static_cast<const char*>(nullptr);
  EXPECT_EQ(s, "");
  s += static_cast<const char*>(nullptr);
  EXPECT_EQ(s.Compare(nullptr), 0);
  EXPECT_EQ(CString(nullptr, 5), "");
}

TEST(CoreString, LengthConstructorStopsAtTerminator) {
  EXPECT_EQ(CString("abcdef", 3), "abc");
  EXPECT_EQ(CString("ab", 10), "ab");  // never reads past the text's end
  EXPECT_EQ(CString("ab", -1), "");
  EXPECT_EQ(CString('x', 3), "xxx");
  EXPECT_EQ(CString('x', -2), "");
}

TEST(CoreString, SubstringsClampOutOfRangeCounts) {
  const CString s("Hello");
  struct Row {
    CString got;
    const char* want;
  };
  const Row rows[] = {
      {s.Left(2), "He"},    {s.Left(0), ""},       {s.Left(9), "Hello"}, {s.Left(-1), ""},
      {s.Right(3), "llo"},  {s.Right(9), "Hello"}, {s.Right(-1), ""},    {s.Mid(1), "ello"},
      {s.Mid(1, 2), "el"},  {s.Mid(4, 9), "o"},    {s.Mid(5), ""},       {s.Mid(9), ""},
      {s.Mid(-3, 2), "He"}, {s.Mid(2, 0), ""},
  };
  for (size_t i = 0; i < std::size(rows); ++i) EXPECT_EQ(rows[i].got, rows[i].want) << "row " << i;
}

TEST(CoreString, Find) {
  const CString s("a.b.c");
  struct Row {
    int got;
    int want;
  };
  const Row rows[] = {
      {s.Find('.'), 1},        {s.Find('.', 2), 3},
      {s.Find('.', 4), -1},    {s.Find('.', 5), -1},
      {s.Find('.', -1), -1},   {s.Find('x'), -1},
      {s.ReverseFind('.'), 3}, {s.ReverseFind('x'), -1},
      {s.Find("b.c"), 2},      {s.Find("b", 3), -1},
      {s.Find(""), 0},         {s.Find("", 5), 5},
      {s.Find("", 6), -1},     {s.Find(static_cast<const char*>(nullptr)), -1},
  };
  for (size_t i = 0; i < std::size(rows); ++i) EXPECT_EQ(rows[i].got, rows[i].want) << "row " << i;
}

TEST(CoreString, CompareNoCaseIsAsciiOnlyAndOrdered) {
  EXPECT_EQ(CString("C:\\Firmware\\A.X").CompareNoCase("c:\\firmware\\a.x"), 0);
  EXPECT_LT(CString("abc").CompareNoCase("ABD"), 0);
  EXPECT_GT(CString("abcd").CompareNoCase("ABC"), 0);
  EXPECT_LT(CString("").CompareNoCase("a"), 0);
  // Bytes above 127 are compared as they are, not folded by a locale.
  EXPECT_NE(CString("\xC4").CompareNoCase("\xE4"), 0);
  // '_' lies between upper and lower case letters; _stricmp compares lower-cased.
  EXPECT_LT(CString("_").CompareNoCase("A"), 0);
}

TEST(CoreString, CaseTrimAndReplace) {
  CString s("  MiXed 1\t\n");
  s.TrimRight();
  EXPECT_EQ(s, "  MiXed 1");
  s.TrimLeft();
  EXPECT_EQ(s, "MiXed 1");
  s.MakeUpper();
  EXPECT_EQ(s, "MIXED 1");
  s.MakeLower();
  EXPECT_EQ(s, "mixed 1");
  EXPECT_EQ(s.Replace('x', 'k'), 1);
  EXPECT_EQ(s, "miked 1");
  EXPECT_EQ(s.Replace('e', 'e'), 0);
  CString blank("   ");
  blank.TrimLeft();
  EXPECT_TRUE(blank.IsEmpty());
}

TEST(CoreString, FormatLikePrintf) {
  CString s;
  s.Format("COM Failure! [%d] There was a failure [%ld] attempting to open COM%d.", 301, 2L, 5);
  EXPECT_EQ(s, "COM Failure! [301] There was a failure [2] attempting to open COM5.");
  s.Format("%s", "");
  EXPECT_TRUE(s.IsEmpty());
  const std::string big(10000, 'z');
  s.Format("<%s>", big.c_str());
  EXPECT_EQ(s.GetLength(), 10002);
  EXPECT_EQ(s.Right(2), "z>");
}

TEST(CoreString, FormatMayUseItselfAsArgument) {
  CString s("abc");
  s.Format("%s-%s", s.GetString(), s.GetString());
  EXPECT_EQ(s, "abc-abc");
}

TEST(CoreString, BufferAccess) {
  CString s("ab");
  char* p = s.GetBuffer(10);
  std::strcpy(p, "0123456789");
  s.ReleaseBuffer();
  EXPECT_EQ(s, "0123456789");
  p = s.GetBuffer(0);
  p[3] = '\0';
  s.ReleaseBuffer();
  EXPECT_EQ(s, "012");
  s.GetBuffer(5);
  s.ReleaseBuffer(2);
  EXPECT_EQ(s, "01");
}

TEST(CoreCopyTruncated, LstrcpynSemantics) {
  struct Row {
    const char* src;
    UINT max;
    const char* want;
  };
  const Row rows[] = {
      {"hello", 10, "hello"}, {"hello", 6, "hello"}, {"hello", 5, "hell"},
      {"hello", 2, "h"},      {"hello", 1, ""},      {nullptr, 4, ""},
  };
  for (const Row& row : rows) {
    char buffer[16];
    std::memset(buffer, 'X', sizeof buffer);
    AfxCopyTruncated(buffer, row.src, row.max);
    EXPECT_STREQ(buffer, row.want) << "max " << row.max;
    EXPECT_EQ(buffer[row.max], 'X') << "wrote past max " << row.max;
  }
  char untouched = 'X';
  AfxCopyTruncated(&untouched, "abc", 0);
  EXPECT_EQ(untouched, 'X');
}

// ---- string table and module states

class CoreStringTable : public ::testing::Test {
 protected:
  CoreTestModule plugin_{"coreplugin.so", {{100, "plug-in %d"}, {101, "plug-in only"}}};
  CoreTestModule other_{"coreother.so", {{100, "other %d"}, {102, "other only"}}};
};

TEST_F(CoreStringTable, LoadsFromTheCurrentResourceModule) {
  AFX_MODULE_STATE pluginState;
  pluginState.m_hCurrentResourceHandle = plugin_.handle();
  AFX_MODULE_STATE otherState;
  otherState.m_hCurrentResourceHandle = other_.handle();

  CString s;
  {
    AFX_MANAGE_STATE(&pluginState);
    EXPECT_TRUE(s.LoadString(100));
    EXPECT_EQ(s, "plug-in %d");
    {
      AFX_MANAGE_STATE(&otherState);
      EXPECT_EQ(AfxGetModuleState(), &otherState);
      s.Format(100u, 7);
      EXPECT_EQ(s, "other 7");
    }
    EXPECT_EQ(AfxGetModuleState(), &pluginState);
    s.Format(100u, 8);
    EXPECT_EQ(s, "plug-in 8");
  }
  EXPECT_EQ(AfxGetModuleState(), AfxGetAppModuleState());
}

TEST_F(CoreStringTable, MissingIdGivesEmptyAndFalse) {
  AFX_MODULE_STATE pluginState;
  pluginState.m_hCurrentResourceHandle = plugin_.handle();
  AFX_MANAGE_STATE(&pluginState);
  CString s("previous");
  EXPECT_FALSE(s.LoadString(9999));
  EXPECT_TRUE(s.IsEmpty());
  s.Format(9999u, 1, 2);
  EXPECT_TRUE(s.IsEmpty());
}

TEST_F(CoreStringTable, ExtensionModulesAreSearchedAfterTheCurrentOne) {
  AFX_MODULE_STATE pluginState;
  pluginState.m_hCurrentResourceHandle = plugin_.handle();
  AFX_MANAGE_STATE(&pluginState);
  CString s;
  EXPECT_FALSE(s.LoadString(102));
  AfxRegisterExtensionModule(other_.handle());
  EXPECT_TRUE(s.LoadString(102));
  EXPECT_EQ(s, "other only");
  EXPECT_EQ(AfxFindResourceHandle(102, RT_STRING), other_.handle());
  // The current module still wins for ids that both hold.
  EXPECT_EQ(AfxFindResourceHandle(100, RT_STRING), plugin_.handle());
  AfxUnregisterExtensionModule(other_.handle());
  EXPECT_FALSE(s.LoadString(102));
}

TEST_F(CoreStringTable, ResourceHandleIsPerState) {
  AFX_MODULE_STATE pluginState;
  pluginState.m_hCurrentResourceHandle = plugin_.handle();
  AFX_MANAGE_STATE(&pluginState);
  AfxSetResourceHandle(other_.handle());
  EXPECT_EQ(pluginState.m_hCurrentResourceHandle, other_.handle());
  EXPECT_EQ(AfxGetResourceHandle(), other_.handle());
  EXPECT_NE(AfxGetAppModuleState()->m_hCurrentResourceHandle, other_.handle());
}

TEST(CoreModuleState, EachThreadHasItsOwnCurrentState) {
  AFX_MODULE_STATE mine;
  AFX_MANAGE_STATE(&mine);
  AFX_MODULE_STATE* seenByOther = nullptr;
  std::thread([&] { seenByOther = AfxGetModuleState(); }).join();
  EXPECT_EQ(AfxGetModuleState(), &mine);
  EXPECT_EQ(seenByOther, AfxGetAppModuleState());
}

}  // namespace
