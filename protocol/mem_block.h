// A range of device memory: an address, a byte count and the bytes. A block either
// borrows the caller's bytes (to program them) or owns a buffer of its count (to read
// into it).
#pragma once
#include <memory>

#include "platform/winbase.h"

class CMemBlock {
 public:
  // Borrows `data` (count bytes); the caller keeps it alive while the block is used.
  CMemBlock(DWORD address, WORD count, const BYTE* data);
  // Owns a zeroed buffer of `count` bytes.
  CMemBlock(DWORD address, WORD count);
  CMemBlock(const CMemBlock&) = delete;
  CMemBlock& operator=(const CMemBlock&) = delete;

  WORD GetCount() const { return m_count; }
  DWORD GetAddress() const { return m_address; }
  void SetAddress(DWORD address) { m_address = address; }
  const BYTE* GetData() const { return m_data; }
  // Null for a borrowing block: its bytes are the caller's and not ours to change.
  BYTE* GetBuffer() { return m_owned.get(); }
  // Copies exactly the byte count from `source` into the owned buffer.
  void Fill(const BYTE* source);

 private:
  WORD m_count;
  DWORD m_address;
  const BYTE* m_data;
  std::unique_ptr<BYTE[]> m_owned;
};
