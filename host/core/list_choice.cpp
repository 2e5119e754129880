#include "host/core/list_choice.h"

#include <algorithm>

#include "host/core/text.h"

namespace velmora {

namespace {

std::string Quoted(const std::string& label) {
  return label.empty() ? std::string() : " \"" + label + "\"";
}

}  // namespace

int FindListChoice(const std::vector<std::string>& items, const std::string& wanted) {
  auto exact = std::find(items.begin(), items.end(), wanted);
  if (exact != items.end()) return static_cast<int>(exact - items.begin());
  int index = -1;
  int matches = 0;
  for (size_t i = 0; i < items.size(); ++i) {
    if (Lower(items[i]) == Lower(wanted)) {
      index = static_cast<int>(i);
      ++matches;
    }
  }
  return matches == 1 ? index : -1;
}

std::string ListChoiceNeeded(const std::string& pageCaption, const std::string& label) {
  return "--firmware is needed: the page \"" + pageCaption + "\" asks for a choice from its list" +
         Quoted(label);
}

std::string NotInList(const std::string& wanted, const std::string& label, bool listEmpty) {
  return "\"" + wanted + "\" is not in the list" + Quoted(label) +
         (listEmpty ? ", which is empty" : "");
}

std::string FieldTooShort(const std::string& option, const std::string& label, unsigned limit,
                          const std::string& text) {
  return option + ": the field" + Quoted(label) + " takes at most " + std::to_string(limit) +
         " characters and " + text + " has " + std::to_string(text.size()) +
         "; it would be cut to another name. Give a shorter path";
}

}  // namespace velmora
