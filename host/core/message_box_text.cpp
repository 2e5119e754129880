#include "host/core/message_box_text.h"

#include <cstdlib>
#include <sstream>

#include "host/core/text.h"

namespace velmora {

namespace {

constexpr UINT kAbortRetryIgnore = 0x2;
constexpr UINT kRetryCancel = 0x5;
constexpr UINT kDefButtonMask = 0x300;

const char* IconWord(UINT style) {
  switch (style & MB_ICONMASK) {
    case MB_ICONERROR:
      return "error";
    case MB_ICONQUESTION:
      return "question";
    case MB_ICONEXCLAMATION:
      return "warning";
    case MB_ICONINFORMATION:
      return "information";
    default:
      return nullptr;
  }
}

}  // namespace

std::vector<BoxChoice> BoxChoices(UINT style) {
  switch (style & MB_TYPEMASK) {
    case MB_OKCANCEL:
      return {{"OK", IDOK}, {"Cancel", IDCANCEL}};
    case kAbortRetryIgnore:
      return {{"Abort", IDABORT}, {"Retry", IDRETRY}, {"Ignore", IDIGNORE}};
    case MB_YESNOCANCEL:
      return {{"Yes", IDYES}, {"No", IDNO}, {"Cancel", IDCANCEL}};
    case MB_YESNO:
      return {{"Yes", IDYES}, {"No", IDNO}};
    case kRetryCancel:
      return {{"Retry", IDRETRY}, {"Cancel", IDCANCEL}};
    default:
      return {{"OK", IDOK}};
  }
}

int DefaultBoxResult(UINT style) {
  const std::vector<BoxChoice> choices = BoxChoices(style);
  const size_t index = (style & kDefButtonMask) >> 8;
  return choices[index < choices.size() ? index : 0].result;
}

int EnterBoxResult(UINT style) {
  const int result = DefaultBoxResult(style);
  return result == IDYES ? 0 : result;
}

int UnattendedBoxResult(UINT style, bool yes) {
  switch (style & MB_TYPEMASK) {
    case MB_OK:
    case MB_OKCANCEL:
      return IDOK;
    case MB_YESNO:
    case MB_YESNOCANCEL:
      return yes ? IDYES : IDNO;
    case kAbortRetryIgnore:
      return IDABORT;
    case kRetryCancel:
      return IDCANCEL;
    default:
      return IDOK;
  }
}

std::vector<std::string> FormatBox(const platform::MessageBoxRequest& request) {
  std::vector<std::string> lines;
  std::string heading =
      "--- " + (request.caption.empty() ? std::string("Message") : request.caption);
  if (const char* icon = IconWord(request.style)) heading += std::string(" (") + icon + ")";
  heading += " ---";
  lines.push_back(heading);
  std::istringstream text(request.text);
  std::string line;
  while (std::getline(text, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
  }
  return lines;
}

std::string FormatChoices(UINT style) {
  std::string text;
  for (const BoxChoice& choice : BoxChoices(style)) {
    if (!text.empty()) text += "  ";
    text += "[" + Lower(choice.word.substr(0, 1)) + "]" + choice.word.substr(1);
  }
  const int enter = EnterBoxResult(style);
  if (enter == 0) return text + "  (type y or n)";
  return text + "  (Enter: " + ResultWord(enter) + ")";
}

int ParseBoxAnswer(UINT style, const std::string& answer) {
  const std::string typed = Lower(Trim(answer));
  if (typed.empty()) return EnterBoxResult(style);
  for (const BoxChoice& choice : BoxChoices(style)) {
    const std::string word = Lower(choice.word);
    if (typed == word || (typed.size() == 1 && typed[0] == word[0])) return choice.result;
  }
  return 0;
}

std::string ResultWord(int result) {
  switch (result) {
    case IDOK:
      return "OK";
    case IDCANCEL:
      return "Cancel";
    case IDABORT:
      return "Abort";
    case IDRETRY:
      return "Retry";
    case IDIGNORE:
      return "Ignore";
    case IDYES:
      return "Yes";
    case IDNO:
      return "No";
    default:
      return "?";
  }
}

std::optional<ShownFailure> FailureInBox(const std::string& text) {
  std::optional<ShownFailure> found;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const std::size_t open = line.find('[');
    const std::size_t close = line.find(']', open == std::string::npos ? 0 : open);
    if (open != std::string::npos && close != std::string::npos && close > open + 1) {
      const std::string digits = line.substr(open + 1, close - open - 1);
      if (digits.find_first_not_of("0123456789") == std::string::npos && digits.size() < 6)
        found = ShownFailure{std::atoi(digits.c_str()), line};
    }
    start = end + 1;
  }
  return found;
}

}  // namespace velmora
