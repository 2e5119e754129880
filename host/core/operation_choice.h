// Which operation the user means: an index, or a word of the operation's name
// ("upgrade" for "Software upgrade").
#pragma once
#include <string>
#include <vector>

namespace velmora {

// The operation index, or -1 with `error` saying why (unknown, or more than one fits).
// A word fits an operation when it equals its whole name or begins one of the words of
// its name, letter case aside.
int ChooseOperation(const std::string& wanted, const std::vector<std::string>& names,
                    std::string& error);

}  // namespace velmora
