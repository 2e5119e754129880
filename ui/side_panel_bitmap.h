// The picture at the left of the plug-in's wizard pages.
#pragma once
#include "framework/afxwin.h"

class CSidePanelBitmap : public CBitmap {
 public:
  CSidePanelBitmap() = default;
  ~CSidePanelBitmap() override;

  // Stretches the whole picture over `rect` of the context; the picture's proportions
  // give way to the rectangle's.
  virtual void Draw(CDC* dc, const CRect& rect);
};
