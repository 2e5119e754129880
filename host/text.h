// Small text helpers of the host's terminal views.
#pragma once
#include <string>

namespace velmora {

// `text` in lower case (ASCII letters only).
std::string Lower(std::string text);

// `text` without leading and trailing blanks and tabs.
std::string Trim(const std::string& text);

}  // namespace velmora
