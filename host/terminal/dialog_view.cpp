#include "host/terminal/dialog_view.h"

#include <algorithm>
#include <cctype>
#include <sstream>

#include "framework/uimodel.h"
#include "host/core/text.h"
#include "host/core/unattended_pages.h"

namespace velmora {

namespace {

std::vector<std::string> SplitLines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
  }
  return lines;
}

bool IsNumber(const std::string& text) {
  return !text.empty() && text.size() < 6 && std::all_of(text.begin(), text.end(), [](char c) {
    return std::isdigit(static_cast<unsigned char>(c));
  });
}

// Table columns padded to their widest cell.
std::vector<std::string> RenderTable(const ViewElement& table) {
  std::vector<std::vector<std::string>> rows;
  rows.push_back(table.columns);
  for (const std::string& row : table.items) {
    std::vector<std::string> cells;
    std::string cell;
    std::istringstream in(row);
    while (std::getline(in, cell, '\t')) cells.push_back(cell);
    rows.push_back(cells);
  }
  size_t columns = 0;
  for (const auto& row : rows) columns = std::max(columns, row.size());
  std::vector<size_t> widths(columns, 0);
  for (const auto& row : rows) {
    for (size_t i = 0; i < row.size(); ++i) widths[i] = std::max(widths[i], row[i].size());
  }
  std::vector<std::string> lines;
  for (size_t r = 0; r < rows.size(); ++r) {
    std::string line = "    ";
    for (size_t i = 0; i < columns; ++i) {
      const std::string cell = i < rows[r].size() ? rows[r][i] : std::string();
      line += cell;
      if (i + 1 < columns) line += std::string(widths[i] - cell.size() + 2, ' ');
    }
    while (!line.empty() && line.back() == ' ') line.pop_back();
    lines.push_back(line);
    if (r == 0 && !table.columns.empty()) {
      size_t total = 0;
      for (size_t i = 0; i < columns; ++i) total += widths[i] + (i + 1 < columns ? 2 : 0);
      lines.push_back("    " + std::string(total, '-'));
    }
  }
  if (table.items.empty()) lines.push_back("    (no rows)");
  return lines;
}

}  // namespace

std::string CommandWord(const std::string& caption) {
  std::string word = Trim(StripMnemonic(caption));
  while (!word.empty() && (word.back() == '.' || word.back() == ' ')) word.pop_back();
  return Lower(word);
}

const ViewElement* DialogView::FindEdit(const std::string& key) const {
  for (const ViewElement& e : elements) {
    if (e.kind == ViewElement::Kind::Edit && e.key == key) return &e;
  }
  return nullptr;
}

const ViewElement* DialogView::FirstEdit() const {
  for (const ViewElement& e : elements) {
    if (e.kind == ViewElement::Kind::Edit) return &e;
  }
  return nullptr;
}

const ViewElement* DialogView::FirstList() const {
  for (const ViewElement& e : elements) {
    if (e.kind == ViewElement::Kind::List) return &e;
  }
  return nullptr;
}

const ViewElement* DialogView::FindButton(const std::string& word) const {
  const std::string wanted = Lower(Trim(word));
  if (wanted.empty()) return nullptr;
  const ViewElement* prefixMatch = nullptr;
  int prefixMatches = 0;
  for (const ViewElement& e : elements) {
    if (e.kind != ViewElement::Kind::Button) continue;
    if (e.key == wanted) return &e;
    if (e.key.compare(0, wanted.size(), wanted) == 0) {
      prefixMatch = &e;
      ++prefixMatches;
    }
  }
  return prefixMatches == 1 ? prefixMatch : nullptr;
}

DialogView DescribeDialog(const CWnd& root) {
  DialogView view;
  view.caption = root.GetWindowText().GetString();
  const std::vector<uimodel::ControlInfo> controls = uimodel::Snapshot(root);
  int edits = 0;
  // A static text or group box right before an edit control or list names it.
  std::string pendingLabel;
  bool havePending = false;
  auto flushPending = [&] {
    if (havePending && !pendingLabel.empty()) {
      ViewElement text;
      text.kind = ViewElement::Kind::Text;
      text.text = StripMnemonic(pendingLabel);
      view.elements.push_back(text);
    }
    havePending = false;
    pendingLabel.clear();
  };
  // Entry 0 is the root itself.
  for (size_t i = 1; i < controls.size(); ++i) {
    const uimodel::ControlInfo& c = controls[i];
    if (!c.visible) continue;
    const int id = c.id & 0xFFFF;
    const CWnd* wnd = id != 0xFFFF ? root.GetDlgItem(id) : nullptr;
    const DWORD style = wnd ? wnd->GetStyle() : 0;
    switch (c.kind) {
      case uimodel::Kind::Static:
      case uimodel::Kind::GroupBox:
        flushPending();
        if (c.text.IsEmpty()) break;  // frames and placeholders
        pendingLabel = c.text.GetString();
        havePending = true;
        break;
      case uimodel::Kind::Edit: {
        ViewElement edit;
        edit.id = id;
        edit.label = havePending ? ControlLabel(pendingLabel) : std::string();
        havePending = false;
        pendingLabel.clear();
        edit.text = c.text.GetString();
        if ((style & ES_READONLY) || !c.enabled) {
          edit.kind = ViewElement::Kind::ReadOnly;
        } else {
          edit.kind = ViewElement::Kind::Edit;
          edit.key = "e" + std::to_string(++edits);
        }
        view.elements.push_back(edit);
        break;
      }
      case uimodel::Kind::ListBox: {
        ViewElement list;
        list.kind = ViewElement::Kind::List;
        list.id = id;
        list.label = havePending ? ControlLabel(pendingLabel) : std::string();
        havePending = false;
        pendingLabel.clear();
        for (const CString& item : c.items) list.items.push_back(item.GetString());
        list.selection = c.selection;
        view.elements.push_back(list);
        break;
      }
      case uimodel::Kind::ListView: {
        flushPending();
        ViewElement table;
        table.kind = ViewElement::Kind::Table;
        table.id = id;
        for (const CString& heading : c.columns) table.columns.push_back(heading.GetString());
        for (const CString& row : c.items) table.items.push_back(row.GetString());
        view.elements.push_back(table);
        break;
      }
      case uimodel::Kind::Button: {
        flushPending();
        if (!c.enabled) break;
        ViewElement button;
        button.kind = ViewElement::Kind::Button;
        button.id = id;
        button.text = StripMnemonic(c.text.GetString());
        button.key = CommandWord(c.text.GetString());
        button.isDefault = (style & 0x0F) == BS_DEFPUSHBUTTON;
        view.elements.push_back(button);
        break;
      }
      default:
        flushPending();
        break;
    }
  }
  flushPending();
  return view;
}

std::vector<std::string> RenderDialog(const DialogView& view) {
  std::vector<std::string> lines;
  if (!view.caption.empty()) lines.push_back("=== " + view.caption + " ===");
  std::string buttons;
  for (const ViewElement& e : view.elements) {
    switch (e.kind) {
      case ViewElement::Kind::Text:
        for (const std::string& line : SplitLines(e.text))
          lines.push_back(line.empty() ? "" : "  " + line);
        break;
      case ViewElement::Kind::Edit:
        lines.push_back("  " + (e.label.empty() ? std::string("Field") : e.label) + ": [" + e.key +
                        "] \"" + e.text + "\"");
        break;
      case ViewElement::Kind::ReadOnly:
        lines.push_back("  " + (e.label.empty() ? std::string("Field") : e.label) + ": " + e.text);
        break;
      case ViewElement::Kind::List:
        if (!e.label.empty()) lines.push_back("  " + e.label + ":");
        if (e.items.empty()) lines.push_back("      (no items)");
        for (size_t i = 0; i < e.items.size(); ++i) {
          const bool selected = static_cast<int>(i) == e.selection;
          lines.push_back(std::string(selected ? "   * " : "     ") + std::to_string(i + 1) + ". " +
                          e.items[i]);
        }
        break;
      case ViewElement::Kind::Table:
        for (const std::string& line : RenderTable(e)) lines.push_back(line);
        break;
      case ViewElement::Kind::Button:
        if (!buttons.empty()) buttons += "  ";
        buttons += "<" + e.text + ">";
        if (e.isDefault) buttons += "*";
        break;
    }
  }
  if (!buttons.empty()) lines.push_back("  Buttons: " + buttons);
  return lines;
}

std::string RenderDialogHint(const DialogView& view) {
  std::vector<std::string> parts;
  if (const ViewElement* list = view.FirstList()) {
    if (!list->items.empty()) parts.push_back("N selects item N, \"open N\" double-clicks it");
    parts.push_back("\"ins\" / \"del\" press Insert / Delete in the list");
  }
  if (view.FirstEdit())
    parts.push_back("\"e1 TEXT\" fills field e1 (\"e1\" alone asks, e1 \"\" empties it)");
  bool buttons = false;
  for (const ViewElement& e : view.elements)
    buttons = buttons || e.kind == ViewElement::Kind::Button;
  if (buttons) parts.push_back("a button's name presses it");
  std::string hint;
  for (const std::string& part : parts) hint += (hint.empty() ? "" : "; ") + part;
  return hint;
}

UserCommand ParseUserCommand(const std::string& line, const DialogView& view, bool wizard) {
  UserCommand cmd;
  const std::string trimmed = Trim(line);
  if (trimmed.empty()) {
    cmd.kind = UserCommand::Kind::Default;
    return cmd;
  }
  const size_t space = trimmed.find(' ');
  const std::string head = Lower(trimmed.substr(0, space));
  const std::string rest =
      space == std::string::npos ? std::string() : Trim(trimmed.substr(space + 1));
  const std::string whole = Lower(trimmed);

  if (whole == "?" || whole == "help") {
    cmd.kind = UserCommand::Kind::Help;
    return cmd;
  }
  if (wizard) {
    if (whole == "n" || whole == "next") {
      cmd.kind = UserCommand::Kind::Next;
      return cmd;
    }
    if (whole == "b" || whole == "back") {
      cmd.kind = UserCommand::Kind::Back;
      return cmd;
    }
    if (whole == "f" || whole == "finish") {
      cmd.kind = UserCommand::Kind::Finish;
      return cmd;
    }
    if (whole == "c" || whole == "cancel") {
      cmd.kind = UserCommand::Kind::Cancel;
      return cmd;
    }
  }
  const ViewElement* list = view.FirstList();
  if (list) {
    if (whole == "ins" || whole == "insert") {
      cmd.kind = UserCommand::Kind::Insert;
      cmd.id = list->id;
      return cmd;
    }
    if (whole == "del" || whole == "delete") {
      cmd.kind = UserCommand::Kind::Delete;
      cmd.id = list->id;
      return cmd;
    }
    const bool open = head == "open" || head == "o";
    const std::string number = open ? rest : whole;
    if (IsNumber(number)) {
      const int n = std::stoi(number);
      if (n < 1 || n > static_cast<int>(list->items.size())) {
        cmd.error = "there is no item " + number + " in the list";
        return cmd;
      }
      cmd.kind = open ? UserCommand::Kind::Open : UserCommand::Kind::Select;
      cmd.id = list->id;
      cmd.index = n - 1;
      return cmd;
    }
  }
  if (const ViewElement* edit = view.FindEdit(head)) {
    cmd.kind = UserCommand::Kind::Edit;
    cmd.id = edit->id;
    // What follows the key is the text, inner spaces included; quotes around it are
    // taken away, so that "" empties a field.
    cmd.text = rest;
    if (cmd.text.size() >= 2 && cmd.text.front() == '"' && cmd.text.back() == '"') {
      cmd.text = cmd.text.substr(1, cmd.text.size() - 2);
    }
    cmd.hasText = !rest.empty();
    return cmd;
  }
  if (const ViewElement* button = view.FindButton(trimmed)) {
    cmd.kind = UserCommand::Kind::Press;
    cmd.id = button->id;
    return cmd;
  }
  if (!wizard && (whole == "cancel" || whole == "c" || whole == "esc" || whole == "escape")) {
    cmd.kind = UserCommand::Kind::Cancel;
    return cmd;
  }
  cmd.error = "\"" + trimmed + "\" is not something this " + (wizard ? "page" : "dialog") +
              " offers (type ? for help)";
  return cmd;
}

}  // namespace velmora
