// A dialog or wizard page as text, built from the framework's window model without
// knowing which dialog it is: static texts and group boxes as text, edit controls as
// fields a user fills in ("e1"), a list box as a numbered list with its selection, list
// views as tables, and push buttons as commands named after their captions.
#pragma once
#include <string>
#include <vector>

#include "framework/afxwin.h"
#include "host/core/text.h"  // StripMnemonic

namespace velmora {

struct ViewElement {
  enum class Kind { Text, Edit, ReadOnly, List, Table, Button };
  Kind kind = Kind::Text;
  int id = 0;
  std::string label;                 // Edit / ReadOnly / List: the text shown before it
  std::string text;                  // Text: the text; Edit: its content; Button: its caption
  std::string key;                   // Edit: "e1"; Button: the command word ("browse")
  bool isDefault = false;            // Button: the default push button
  std::vector<std::string> items;    // List: items; Table: rows (columns joined by '\t')
  std::vector<std::string> columns;  // Table: headings
  int selection = -1;                // List: selected item, -1 for none
};

struct DialogView {
  std::string caption;
  std::vector<ViewElement> elements;

  const ViewElement* FindEdit(const std::string& key) const;
  const ViewElement* FirstEdit() const;
  const ViewElement* FirstList() const;
  // The button a typed word names: its whole command word, or the start of exactly one.
  const ViewElement* FindButton(const std::string& word) const;
};

// Reads what `root` (a dialog or a page) shows now: visible controls only.
DialogView DescribeDialog(const CWnd& root);

// "&Browse..." -> "browse"; "&Add Entry" -> "add entry".
std::string CommandWord(const std::string& caption);

// The view as lines, ready to print.
std::vector<std::string> RenderDialog(const DialogView& view);
// One line that says what can be typed for this view.
std::string RenderDialogHint(const DialogView& view);

// What a typed line asks for. Wizard navigation words are only known in a wizard.
struct UserCommand {
  enum class Kind {
    Default,  // empty line: the default button (Next/Finish in a wizard)
    Help,
    Next,
    Back,
    Finish,
    Cancel,
    Select,  // a list item (index)
    Open,    // double click on a list item (index)
    Insert,
    Delete,  // the list box's keys
    Edit,    // an edit control (id); text given, or to be asked for
    Press,   // a push button (id)
    Unknown,
  };
  Kind kind = Kind::Unknown;
  int index = -1;
  int id = 0;
  bool hasText = false;
  std::string text;
  std::string error;  // Unknown: why
};

UserCommand ParseUserCommand(const std::string& line, const DialogView& view, bool wizard);

}  // namespace velmora
