// What the plug-in's wizard pages share: the side panel drawn into frame control 1015,
// the plug-in's resources made current on activation, Back and Next as the wizard
// buttons, and messages with the application name as caption.
#pragma once
#include "framework/afxwin.h"
#include "ui/side_panel_bitmap.h"

class CWizardPageFrame : public CPropertyPage {
 public:
  explicit CWizardPageFrame(UINT templateId);
  ~CWizardPageFrame() override;

  // Makes the plug-in's resources current again (the host may have switched them since),
  // then the framework's activation; when that accepts, asks the wizard for Back and
  // Next. The buttons message is posted, so it takes effect once activation is over.
  BOOL OnSetActive() override;

  // A page refuses Next with this.
  static constexpr LRESULT STAY_ON_PAGE = -1;

 protected:
  void OnPaint() override;

  // Messages of the pages: a refusal (exclamation, OK) and a Yes/No question.
  static void ShowRefusal(LPCTSTR text);
  static bool AskYesNo(LPCTSTR text);
  // A question of our own before a file is replaced: No is the default answer, so that
  // nothing is lost to a hasty Enter.
  static bool AskToReplace(LPCTSTR text);

  HINSTANCE m_hSavedResource;
  CSidePanelBitmap m_sidePanel;
};
