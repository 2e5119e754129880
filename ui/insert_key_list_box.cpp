#include "ui/insert_key_list_box.h"

void CInsertKeyListBox::OnKeyDown(UINT key, UINT repeatCount, UINT flags) {
  // An empty list box tells its parent about no key at all.
  if (key == VK_INSERT && GetCount() == 0) {
    if (CWnd* parent = GetParent()) {
      parent->SendMessage(WM_VKEYTOITEM, MAKEWPARAM(VK_INSERT, 0),
                          reinterpret_cast<LPARAM>(m_hWnd));
    }
    return;
  }
  CListBox::OnKeyDown(key, repeatCount, flags);
}
