// The list choice an unattended run makes from --firmware, and the texts that say why it
// could not be made. Every front end asks the same way and says the same words.
#pragma once
#include <string>
#include <vector>

namespace velmora {

// The item `wanted` names: the item spelled exactly so, else the only one that differs
// from it in letter case alone; -1 when there is none.
int FindListChoice(const std::vector<std::string>& items, const std::string& wanted);

// `label` is the list's own name as its page shows it (without mnemonic or colon), or
// empty.
std::string ListChoiceNeeded(const std::string& pageCaption, const std::string& label);
std::string NotInList(const std::string& wanted, const std::string& label, bool listEmpty);

// Why a page input does not go into a field that takes at most `limit` characters: it
// would be cut, and the page would go on with a name nobody gave.
std::string FieldTooShort(const std::string& option, const std::string& label, unsigned limit,
                          const std::string& text);

}  // namespace velmora
