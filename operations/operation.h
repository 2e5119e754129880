// An operation: what the plug-in offers the host. It has a name and a description for
// the host's list, owns its wizard pages, answers the host's text requests by index,
// and has a body that does the work on the device.
#pragma once
#include "framework/afx.h"
#include "framework/plugin_abi.h"

class CPropertyPage;

class COperation {
 public:
  // Text indexes of GetText.
  enum TextIndex : int {
    TEXT_SUMMARY = 0,     // summary of the run to come
    TEXT_CONNECT = 1,     // how to connect the device ("%d" stands for the COM port)
    TEXT_LOWER_NAME = 2,  // the operation's name in lower case
    TEXT_COMPLETION = 3,  // final status of a successful run
  };
  static constexpr int TEXT_COUNT = 4;

  explicit COperation(int pageCount);
  virtual ~COperation();
  COperation(const COperation&) = delete;
  COperation& operator=(const COperation&) = delete;

  virtual const char* GetName() = 0;
  virtual const char* GetDescription() = 0;
  // True when the work was done; failures are thrown as exception objects.
  virtual bool Execute(RunRecord* record) = 0;
  // Copies text `index` into buffer with strncpy semantics (zero-filled up to length, no
  // terminator when the text fills the buffer). Indexes 1 and 3 have defaults here; any
  // other index writes one zero byte and returns false.
  virtual bool GetText(int index, char* buffer, UINT length);

  int GetPageCount() const { return m_nPageCount; }
  // Entry `page` of the page table; the caller checks the range.
  CPropertyPage* GetPageAt(int page) const;
  // Stores a page in the table; the operation keeps owning it.
  void SetPage(int page, CPropertyPage* object);

 protected:
  // strncpy into the host's buffer; returns true.
  static bool CopyText(const char* text, char* buffer, UINT length);
  // Loads string `id` and copies it; returns true.
  static bool CopyString(UINT id, char* buffer, UINT length);

 private:
  int m_nPageCount;
  CPtrArray m_pages;
};
