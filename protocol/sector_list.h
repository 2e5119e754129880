// An ordered list of flash sector start addresses, sent with one erase request.
#pragma once
#include <memory>

#include "platform/winbase.h"

// The count travels as one byte, so a list holds at most this many addresses.
constexpr int SECTOR_LIST_MAX = 255;

class CSectorList {
 public:
  CSectorList() = default;
  ~CSectorList();
  CSectorList(const CSectorList&) = delete;
  CSectorList& operator=(const CSectorList&) = delete;

  // Adds an address at the end. A full list refuses it and returns FALSE, rather than
  // let the one-byte count wrap and announce fewer addresses than the request carries.
  BOOL Append(DWORD address);
  BYTE GetCount() const { return m_count; }
  // Read cursor: Rewind, then GetNext until it returns FALSE.
  void Rewind() { m_cursor = m_first.get(); }
  BOOL GetNext(DWORD& address);
  void RemoveAll();

 private:
  struct Node {
    DWORD address;
    std::unique_ptr<Node> next;
  };
  BYTE m_count = 0;
  std::unique_ptr<Node> m_first;
  Node* m_last = nullptr;
  Node* m_cursor = nullptr;
};
