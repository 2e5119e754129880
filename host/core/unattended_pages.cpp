#include "host/core/unattended_pages.h"

#include "framework/uimodel.h"
#include "host/core/list_choice.h"
#include "host/core/session.h"
#include "host/core/text.h"

namespace velmora {

namespace {

// A wizard whose pages keep coming back (a page that takes Finish and stays) would be
// driven forever; no operation has nearly this many pages.
constexpr int kMostPages = 64;

// Selects the list choice on the page; false with `problem` when it cannot be made.
bool ChooseFromList(CPropertyPage& page, const PageFields::Control& list, const std::string& wanted,
                    UnattendedView& view, std::string& problem) {
  int index = FindFirmwareChoice(list.items, wanted);
  std::string chosen = index >= 0 ? list.items[static_cast<size_t>(index)] : std::string();
  if (const std::optional<FirmwareFile> file = FileToRegister(list.items, wanted)) {
    // Not registered yet: Insert opens the page's register dialog.
    view.Registering(*file);
    index = RegisterThroughList(page, list.id, *file);
    chosen = file->description;
    if (index < 0) {
      problem = "--firmware: " + NotRegisteredText(*file);
      return false;
    }
  }
  if (index < 0) {
    problem = NotInList(wanted, list.label, list.items.empty());
    return false;
  }
  view.Selected(chosen);
  uimodel::SelectItem(page, list.id, index);
  return true;
}

}  // namespace

UINT FieldLimit(CWnd& dialog, int id) {
  CWnd* control = dialog.GetDlgItem(id);
  return control ? static_cast<CEdit*>(control)->GetLimitText() : 0;
}

DWORD WizardButtons(const CPropertySheet& sheet) {
  const DWORD flags = sheet.GetWizardButtons();
  return flags != 0 ? flags : (PSWIZB_BACK | PSWIZB_NEXT);
}

bool OffersFinish(DWORD flags) {
  return (flags & (PSWIZB_FINISH | PSWIZB_DISABLEDFINISH)) == PSWIZB_FINISH;
}

std::string ControlLabel(const std::string& text) {
  // "Installed Options" keeps its words; the colon goes, so that a reason can quote it.
  std::string label = Trim(StripMnemonic(text));
  while (!label.empty() && label.back() == ':') label.pop_back();
  return Trim(label);
}

PageFields ReadPageFields(const CWnd& page) {
  PageFields fields;
  fields.caption = page.GetWindowText().GetString();
  const std::vector<uimodel::ControlInfo> controls = uimodel::Snapshot(page);
  // Only the control right before names it; entry 0 is the page itself.
  const uimodel::ControlInfo* before = nullptr;
  for (size_t i = 1; i < controls.size(); ++i) {
    const uimodel::ControlInfo& c = controls[i];
    if (!c.visible) continue;
    const bool names =
        before &&
        (before->kind == uimodel::Kind::Static || before->kind == uimodel::Kind::GroupBox) &&
        !before->text.IsEmpty();
    PageFields::Control control;
    control.id = c.id & 0xFFFF;
    control.label = names ? ControlLabel(before->text.GetString()) : std::string();
    if (c.kind == uimodel::Kind::ListBox && !fields.list) {
      for (const CString& item : c.items) control.items.push_back(item.GetString());
      fields.list = control;
    } else if (c.kind == uimodel::Kind::Edit && !fields.edit && !(c.style & ES_READONLY) &&
               c.enabled) {
      fields.edit = control;
    }
    before = &c;
  }
  return fields;
}

std::string NextRefusedText(const std::string& caption, int button, const std::string& box) {
  return "the page \"" + caption + "\" did not accept " +
         (button == PSBTN_FINISH ? "Finish" : "Next") + (box.empty() ? std::string() : ": " + box);
}

std::string InputsRefusedText(const std::string& caption) {
  return "the page \"" + caption + "\" did not accept the page inputs";
}

std::string UnusedInputText(const PageInputs& inputs, bool listUsed, bool editUsed) {
  if (inputs.editText && !editUsed)
    return "--log-file: no page of this operation has a field for it";
  if (inputs.listChoice && !listUsed)
    return "--firmware: no page of this operation has a list to choose from";
  return {};
}

void UnattendedView::Press(CPropertySheet& sheet, int button) {
  sheet.PressButton(button);
  PumpPending();
}

UnattendedEnd DriveUnattended(CPropertySheet& sheet, const PageInputs& inputs,
                              UnattendedView& view) {
  UnattendedEnd end;
  bool listUsed = false;
  bool editUsed = false;
  const auto stop = [&](UnattendedEnd::Kind kind, std::string problem) {
    end.kind = kind;
    end.problem = std::move(problem);
  };
  // What the start page posted (its wizard buttons) arrives before anything is shown.
  PumpPending();
  for (int step = 0; step < kMostPages && !sheet.IsEnded(); ++step) {
    CPropertyPage* const page = sheet.GetActivePage();
    if (!page) break;
    view.PageShown(sheet, *page);
    if (OffersFinish(WizardButtons(sheet))) {
      if (std::string unused = UnusedInputText(inputs, listUsed, editUsed); !unused.empty()) {
        stop(UnattendedEnd::Kind::BadInput, std::move(unused));
        break;
      }
      view.Pressing(PSBTN_FINISH);
      view.Press(sheet, PSBTN_FINISH);
      if (!sheet.IsEnded() && sheet.GetActivePage() == page) {
        stop(UnattendedEnd::Kind::Refused,
             view.Stayed(page->GetWindowText().GetString(), PSBTN_FINISH));
        break;
      }
      continue;
    }
    const PageFields fields = ReadPageFields(*page);
    std::string problem;
    if (fields.list) {
      // A list is a choice the script must make: what the page preselects may be anything.
      if (!inputs.listChoice) {
        stop(UnattendedEnd::Kind::BadInput, ListChoiceNeeded(fields.caption, fields.list->label));
        break;
      }
      if (!ChooseFromList(*page, *fields.list, *inputs.listChoice, view, problem)) {
        stop(UnattendedEnd::Kind::BadInput, std::move(problem));
        break;
      }
      listUsed = true;
    }
    if (fields.edit && inputs.editText) {
      const std::string& text = *inputs.editText;
      view.Typed(fields.edit->label, text);
      // A field that would cut the text refuses it here, before Next acts on the cut name.
      if (const UINT limit = FieldLimit(*page, fields.edit->id); limit > 0 && text.size() > limit) {
        stop(UnattendedEnd::Kind::BadInput,
             FieldTooShort("--log-file", fields.edit->label, limit, text));
        break;
      }
      uimodel::TypeText(*page, fields.edit->id, text.c_str());
      editUsed = true;
      end.fieldText = text;
    }
    PumpPending();
    if (fields.list) end.listText = SelectedListItem(*page);
    view.Pressing(PSBTN_NEXT);
    view.Press(sheet, PSBTN_NEXT);
    if (!sheet.IsEnded() && sheet.GetActivePage() == page) {
      stop(UnattendedEnd::Kind::Refused, view.Stayed(fields.caption, PSBTN_NEXT));
      break;
    }
  }
  if (!sheet.IsEnded()) view.Press(sheet, PSBTN_CANCEL);
  if (sheet.IsFinished()) end.kind = UnattendedEnd::Kind::Finished;
  return end;
}

}  // namespace velmora
