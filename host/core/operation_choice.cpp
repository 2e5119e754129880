#include "host/core/operation_choice.h"

#include <cctype>
#include <sstream>

namespace velmora {

namespace {

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

bool IsIndex(const std::string& text) {
  if (text.empty() || text.size() > 4) return false;
  for (char c : text) {
    if (!std::isdigit(static_cast<unsigned char>(c))) return false;
  }
  return true;
}

bool Fits(const std::string& word, const std::string& name) {
  if (word.empty()) return false;
  const std::string lowerName = Lower(name);
  if (lowerName == word) return true;
  std::istringstream words(lowerName);
  std::string part;
  while (words >> part) {
    if (part.compare(0, word.size(), word) == 0) return true;
  }
  return false;
}

}  // namespace

int ChooseOperation(const std::string& wanted, const std::vector<std::string>& names,
                    std::string& error) {
  const int count = static_cast<int>(names.size());
  if (IsIndex(wanted)) {
    const int index = std::stoi(wanted);
    if (index < count) return index;
    error = "no operation " + wanted + ": the plug-in offers " + std::to_string(count) +
            (count == 1 ? " operation" : " operations") + " (see velmora list)";
    return -1;
  }
  const std::string word = Lower(wanted);
  std::vector<int> fits;
  for (int i = 0; i < count; ++i) {
    if (Lower(names[static_cast<size_t>(i)]) == word) return i;
    if (Fits(word, names[static_cast<size_t>(i)])) fits.push_back(i);
  }
  if (fits.size() == 1) return fits.front();
  if (fits.empty()) {
    error = "no operation called \"" + wanted + "\" (see velmora list)";
  } else {
    error = "\"" + wanted + "\" fits more than one operation:";
    for (int i : fits) error += " \"" + names[static_cast<size_t>(i)] + "\"";
  }
  return -1;
}

}  // namespace velmora
