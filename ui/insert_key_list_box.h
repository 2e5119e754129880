// The list of available software: a list box that reports the Insert key to its page
// also when it is empty, so that the first firmware file can be registered.
#pragma once
#include "framework/afxwin.h"

class CInsertKeyListBox : public CListBox {
 protected:
  void OnKeyDown(UINT key, UINT repeatCount, UINT flags) override;
};
