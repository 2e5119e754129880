// Message boxes as text: the caption and icon, the text, and the buttons as choices a
// user types ("y" or "yes"; Enter takes the default button).
#pragma once
#include <optional>
#include <string>
#include <vector>

#include "platform/msgbox.h"

namespace velmora {

struct BoxChoice {
  std::string word;  // "Yes"
  int result;        // IDYES
};

// The buttons of a style, in the order Windows shows them.
std::vector<BoxChoice> BoxChoices(UINT style);
// The button Enter presses (MB_DEFBUTTON2/3 move it).
int DefaultBoxResult(UINT style);
// What Enter answers on the terminal: the default button, except that Enter never
// answers Yes (a question may destroy something; it takes a typed y). 0: Enter asks again.
int EnterBoxResult(UINT style);
// What nobody-at-the-keyboard answers: OK where OK is offered, Yes for a question only
// when `yes`, else the safe way out (No, Cancel, Abort).
int UnattendedBoxResult(UINT style, bool yes);
// The box as lines: a heading with caption and icon, then the text.
std::vector<std::string> FormatBox(const platform::MessageBoxRequest& request);
// "[y]es  [n]o  (Enter: No)"; "[y]es  [n]o  (type y or n)" where Enter would say Yes.
std::string FormatChoices(UINT style);
// The result for a typed answer, or 0 when it fits no button.
int ParseBoxAnswer(UINT style, const std::string& answer);
// "Yes" for IDYES.
std::string ResultWord(int result);

// The failure a box shows: the number in brackets and the line that holds it ("Read
// config failure! [411] - ..."). The last such line of the box counts; nullopt when no
// line names a number.
struct ShownFailure {
  int number = 0;
  std::string text;
};
std::optional<ShownFailure> FailureInBox(const std::string& text);

}  // namespace velmora
