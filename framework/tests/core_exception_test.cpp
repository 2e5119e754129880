// Exceptions: run-time classes, deletion, messages and their truncation, the standard
// file-error texts, error-number mapping and reporting through the message box.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "framework/afx.h"
#include "framework/tests/core_test_module.h"

namespace {

std::string MessageOf(CException& e, UINT max = 512) {
  std::string buffer(max, 'X');
  e.GetErrorMessage(buffer.data(), max);
  return std::string(buffer.c_str());
}

TEST(CoreException, RuntimeClassesFollowTheHierarchy) {
  CFileException file;
  EXPECT_TRUE(file.IsKindOf(RUNTIME_CLASS(CFileException)));
  EXPECT_TRUE(file.IsKindOf(RUNTIME_CLASS(CException)));
  EXPECT_TRUE(file.IsKindOf(RUNTIME_CLASS(CObject)));
  EXPECT_FALSE(file.IsKindOf(RUNTIME_CLASS(CMemoryException)));
  EXPECT_FALSE(file.IsKindOf(nullptr));
  EXPECT_STREQ(file.GetRuntimeClass()->m_lpszClassName, "CFileException");
  EXPECT_EQ(file.GetRuntimeClass()->m_nObjectSize, static_cast<int>(sizeof(CFileException)));
  CUserException user;
  EXPECT_TRUE(user.IsKindOf(RUNTIME_CLASS(CException)));
  EXPECT_FALSE(user.IsKindOf(RUNTIME_CLASS(CFileException)));
}

struct Tracked : CException {
  explicit Tracked(bool* destroyed, BOOL autoDelete)
      : CException(autoDelete), destroyed_(destroyed) {}
  ~Tracked() override { *destroyed_ = true; }
  bool* destroyed_;
};

TEST(CoreException, DeleteOnlyDeletesAutoDeleteObjects) {
  bool destroyed = false;
  (new Tracked(&destroyed, TRUE))->Delete();
  EXPECT_TRUE(destroyed);

  destroyed = false;
  Tracked onStack(&destroyed, FALSE);
  onStack.Delete();
  EXPECT_FALSE(destroyed);
}

TEST(CoreException, BaseHasNoMessage) {
  CUserException e;
  char buffer[8] = "junk";
  EXPECT_FALSE(e.GetErrorMessage(buffer, sizeof buffer));
  EXPECT_STREQ(buffer, "");
  char untouched = 'X';
  EXPECT_FALSE(e.GetErrorMessage(&untouched, 0));
  EXPECT_EQ(untouched, 'X');
}

TEST(CoreException, MessagesAreCutToMaxMinusOneAndTerminated) {
  CFileException e(CFileException::fileNotFound, 2, "abc.x");  // "abc.x was not found."
  const std::string full = "abc.x was not found.";
  for (UINT max = 1; max <= full.size() + 3; ++max) {
    std::string buffer(64, 'X');
    EXPECT_TRUE(e.GetErrorMessage(buffer.data(), max));
    const size_t expected = std::min<size_t>(max - 1, full.size());
    EXPECT_EQ(std::string(buffer.c_str()), full.substr(0, expected)) << "max " << max;
    EXPECT_EQ(buffer[max], 'X') << "wrote past max " << max;
  }
  CMemoryException memory;
  EXPECT_EQ(MessageOf(memory), "Out of memory.");
  EXPECT_EQ(MessageOf(memory, 4), "Out");
}

TEST(CoreFileException, EveryCauseHasTheStandardText) {
  struct Row {
    int cause;
    const char* text;
  };
  const Row rows[] = {
      {CFileException::none, "An unknown error occurred while accessing F."},
      {CFileException::genericException, "An unknown error occurred while accessing F."},
      {CFileException::fileNotFound, "F was not found."},
      {CFileException::badPath, "F contains an invalid path."},
      {CFileException::tooManyOpenFiles,
       "F could not be opened because there are too many open files."},
      {CFileException::accessDenied, "Access to F was denied."},
      {CFileException::invalidFile, "An incorrect file handle was associated with F."},
      {CFileException::removeCurrentDir,
       "F could not be removed because it is the current directory."},
      {CFileException::directoryFull, "F could not be created because the directory is full."},
      {CFileException::badSeek, "Seek failed on F"},
      {CFileException::hardIO, "A hardware I/O error was reported while accessing F."},
      {CFileException::sharingViolation, "A sharing violation occurred while accessing F."},
      {CFileException::lockViolation, "A locking violation occurred while accessing F."},
      {CFileException::diskFull, "Disk full while accessing F."},
      {CFileException::endOfFile, "An attempt was made to access F past its end."},
  };
  for (const Row& row : rows) {
    CFileException named(row.cause, -1, "/tmp/dump.log");
    std::string want = row.text;
    want.replace(want.find('F'), 1, "/tmp/dump.log");
    EXPECT_EQ(MessageOf(named), want) << "cause " << row.cause;

    CFileException unnamed(row.cause);
    want = row.text;
    want.replace(want.find('F'), 1, "an unnamed file");
    EXPECT_EQ(MessageOf(unnamed), want) << "cause " << row.cause;
  }
  CFileException unknown(99, -1, "x");
  EXPECT_EQ(MessageOf(unknown), "An unknown error occurred while accessing x.");
}

TEST(CoreFileException, NameWithPercentSignsIsNotAFormat) {
  CFileException e(CFileException::fileNotFound, 2, "%s%n%1.x");
  EXPECT_EQ(MessageOf(e), "%s%n%1.x was not found.");
}

TEST(CoreFileException, WindowsErrorNumbersMapToCauses) {
  struct Row {
    LONG osError;
    int cause;
  };
  const Row rows[] = {
      {2, CFileException::fileNotFound},      {3, CFileException::badPath},
      {4, CFileException::tooManyOpenFiles},  {5, CFileException::accessDenied},
      {6, CFileException::invalidFile},       {19, CFileException::accessDenied},
      {31, CFileException::hardIO},           {32, CFileException::sharingViolation},
      {33, CFileException::lockViolation},    {38, CFileException::endOfFile},
      {80, CFileException::accessDenied},     {112, CFileException::diskFull},
      {123, CFileException::badPath},         {131, CFileException::badSeek},
      {0, CFileException::genericException},  {-1, CFileException::genericException},
      {87, CFileException::genericException}, {1460, CFileException::genericException},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(CFileException::OsErrorToException(row.osError), row.cause)
        << "error " << row.osError;
  }
}

TEST(CoreFileException, ThrowOsErrorThrowsEvenForZero) {
  for (LONG osError : {32L, 0L}) {
    try {
      CFileException::ThrowOsError(osError, "f.x");
      ADD_FAILURE() << "no throw for " << osError;
    } catch (CFileException* e) {
      EXPECT_EQ(e->m_lOsError, osError);
      EXPECT_EQ(e->m_cause, CFileException::OsErrorToException(osError));
      EXPECT_EQ(e->m_strFileName, "f.x");
      e->Delete();
    }
  }
}

TEST(CoreException, ThrowHelpersThrowHeapObjectsByPointer) {
  try {
    AfxThrowUserException();
  } catch (CException* e) {
    EXPECT_TRUE(e->IsKindOf(RUNTIME_CLASS(CUserException)));
    EXPECT_TRUE(e->m_bAutoDelete);
    e->Delete();
  }
  try {
    AfxThrowMemoryException();
  } catch (CException* e) {
    EXPECT_TRUE(e->IsKindOf(RUNTIME_CLASS(CMemoryException)));
    e->Delete();
  }
  try {
    AfxThrowFileException(CFileException::diskFull, 112, "d.log");
  } catch (CFileException* e) {
    EXPECT_EQ(e->m_cause, CFileException::diskFull);
    EXPECT_EQ(e->m_lOsError, 112);
    EXPECT_EQ(e->m_strFileName, "d.log");
    e->Delete();
  }
}

// ---- ReportError

class CoreReportError : public ::testing::Test {
 protected:
  CoreTestModule module_{"corereport.so", {{300, "Table text"}}};
  CoreMessageBoxRecorder boxes_{IDCANCEL};
  CWinApp app_{"ReportApp"};
  AFX_MODULE_STATE state_;
  void SetUp() override {
    state_.m_hCurrentResourceHandle = module_.handle();
    state_.m_pCurrentWinApp = &app_;
    state_.m_lpszCurrentAppName = app_.m_pszAppName;
  }
};

TEST_F(CoreReportError, ShowsTheMessageWithTheAppNameAndReturnsTheButton) {
  AFX_MANAGE_STATE(&state_);
  CFileException e(CFileException::accessDenied, 5, "a.log");
  EXPECT_EQ(e.ReportError(MB_OKCANCEL | MB_ICONEXCLAMATION), IDCANCEL);
  ASSERT_EQ(boxes_.boxes.size(), 1u);
  EXPECT_EQ(boxes_.boxes[0].text, "Access to a.log was denied.");
  EXPECT_EQ(boxes_.boxes[0].caption, "ReportApp");
  EXPECT_EQ(boxes_.boxes[0].style, MB_OKCANCEL | MB_ICONEXCLAMATION);
  EXPECT_EQ(boxes_.boxes[0].owner, nullptr);
}

TEST_F(CoreReportError, WithoutAMessageUsesTheGivenStringThenTheGenericText) {
  AFX_MANAGE_STATE(&state_);
  CUserException e;
  e.ReportError(MB_OK, 300);
  e.ReportError(MB_OK, 301);  // no such string
  e.ReportError();
  ASSERT_EQ(boxes_.boxes.size(), 3u);
  EXPECT_EQ(boxes_.boxes[0].text, "Table text");
  EXPECT_EQ(boxes_.boxes[1].text, "No error message is available.");
  EXPECT_EQ(boxes_.boxes[2].text, "No error message is available.");
}

TEST_F(CoreReportError, MessageBoxByIdLoadsTheString) {
  AFX_MANAGE_STATE(&state_);
  AfxMessageBox(300u, MB_YESNO);
  ASSERT_EQ(boxes_.boxes.size(), 1u);
  EXPECT_EQ(boxes_.boxes[0].text, "Table text");
  EXPECT_EQ(boxes_.boxes[0].style, MB_YESNO);
  EXPECT_EQ(boxes_.boxes[0].caption, "ReportApp");
}

}  // namespace
