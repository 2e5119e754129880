#include "protocol/mem_block.h"

#include <cstring>

CMemBlock::CMemBlock(DWORD address, WORD count, const BYTE* data)
    : m_count(count), m_address(address), m_data(data) {}

CMemBlock::CMemBlock(DWORD address, WORD count)
    : m_count(count), m_address(address), m_data(nullptr), m_owned(new BYTE[count]()) {
  m_data = m_owned.get();
}

void CMemBlock::Fill(const BYTE* source) {
  if (m_owned && m_count > 0) std::memcpy(m_owned.get(), source, m_count);
}
