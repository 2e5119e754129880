// The wizard with nobody to ask: each page filled from the page inputs (the list choice
// --firmware makes, the text --log-file types), Next pressed, Finish on the last page,
// and a clear reason where the inputs do not fit the pages. Every front end drives its
// wizard through here and only shows what happens; the reasons are the same everywhere.
#pragma once
#include <optional>
#include <string>
#include <vector>

#include "framework/afxwin.h"
#include "host/core/firmware_registration.h"

namespace velmora {

// What a page asked for with PSM_SETWIZBUTTONS; a page that never said gets Back and
// Next, as a wizard starts out.
DWORD WizardButtons(const CPropertySheet& sheet);
bool OffersFinish(DWORD flags);

// The most characters the edit control `id` of `dialog` takes; 0 for no limit.
UINT FieldLimit(CWnd& dialog, int id);

// What an unattended run gives the pages.
struct PageInputs {
  std::optional<std::string> listChoice;  // the list item to select (--firmware)
  std::optional<std::string> editText;    // the text for the page's field (--log-file)
};

// The controls of a page that page inputs go into, as the page shows them now: its first
// visible list box and its first field that takes text, each named by the static text or
// group box right before it (without mnemonic and trailing colon; empty when there is
// none).
struct PageFields {
  struct Control {
    int id = 0;
    std::string label;
    std::vector<std::string> items;  // a list's items
  };
  std::string caption;
  std::optional<Control> list;
  std::optional<Control> edit;
};
PageFields ReadPageFields(const CWnd& page);

// A control's label as a page input's reason names it: "&Log File:" -> "Log File".
std::string ControlLabel(const std::string& text);

// Why a wizard stopped where a page stayed after Next (or Finish): "the page "CAPTION"
// did not accept Next", with the text of the box the page showed when there was one.
std::string NextRefusedText(const std::string& caption, int button, const std::string& box);
// The same where the box is not known: "... did not accept the page inputs".
std::string InputsRefusedText(const std::string& caption);
// Why an input no page of the operation took is refused (empty when both were taken).
std::string UnusedInputText(const PageInputs& inputs, bool listUsed, bool editUsed);

// How a front end shows the unattended wizard. Every call comes on the wizard's thread.
class UnattendedView {
 public:
  virtual ~UnattendedView() = default;
  // The active page is about to be filled (or finished): the front end shows it.
  virtual void PageShown(CPropertySheet& /*sheet*/, CPropertyPage& /*page*/) {}
  // --firmware names a file no list item shows: it is registered through the page.
  virtual void Registering(const FirmwareFile& /*file*/) {}
  virtual void Selected(const std::string& /*item*/) {}
  virtual void Typed(const std::string& /*label*/, const std::string& /*text*/) {}
  // PSBTN_NEXT or PSBTN_FINISH is about to be pressed.
  virtual void Pressing(int /*button*/) {}
  // Presses a wizard button and lets the sheet handle what that queued. The window's
  // own press where the front end has one, so that it follows.
  virtual void Press(CPropertySheet& sheet, int button);
  // Why the page stayed after `button` (NextRefusedText or InputsRefusedText).
  virtual std::string Stayed(const std::string& caption, int /*button*/) {
    return InputsRefusedText(caption);
  }
};

struct UnattendedEnd {
  enum class Kind { Finished, Cancelled, Refused, BadInput };
  Kind kind = Kind::Cancelled;
  std::string problem;    // Refused, BadInput: why
  std::string listText;   // the list item selected when the wizard went on from a list
  std::string fieldText;  // the text typed into a page's field
};

// Drives `sheet` from its active page to the end with `inputs`. A page with a list needs
// the list choice (what the list preselects is no choice); a list choice naming an
// existing file no item shows registers it through the page first; a text longer than
// the field takes is refused before Next acts on a cut name; an input that no page took
// is refused before Finish; a page that stays where Next or Finish was pressed ends it.
// The sheet is cancelled wherever the wizard stops short.
UnattendedEnd DriveUnattended(CPropertySheet& sheet, const PageInputs& inputs,
                              UnattendedView& view);

}  // namespace velmora
