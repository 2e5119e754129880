#include "protocol/sector_list.h"

CSectorList::~CSectorList() {
  RemoveAll();
}

BOOL CSectorList::Append(DWORD address) {
  if (m_count >= SECTOR_LIST_MAX) return FALSE;
  auto node = std::make_unique<Node>(Node{address, nullptr});
  Node* added = node.get();
  if (m_last)
    m_last->next = std::move(node);
  else
    m_first = std::move(node);
  m_last = added;
  ++m_count;
  return TRUE;
}

BOOL CSectorList::GetNext(DWORD& address) {
  if (!m_cursor) return FALSE;
  address = m_cursor->address;
  m_cursor = m_cursor->next.get();
  return TRUE;
}

void CSectorList::RemoveAll() {
  // Unlink node by node: a recursive chain of destructors is not needed here.
  std::unique_ptr<Node> node = std::move(m_first);
  while (node) node = std::move(node->next);
  m_last = nullptr;
  m_cursor = nullptr;
  m_count = 0;
}
