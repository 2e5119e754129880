// UTF-16 text as the registry editor's files carry it, to and from the UTF-8 text that
// the rest of the system uses.
#pragma once
#include <optional>
#include <string>
#include <string_view>

namespace platform {

// Two bytes a unit, little- or big-endian, without a byte-order mark; nullopt with
// `reason` for an odd length or a broken surrogate pair.
std::optional<std::string> Utf16ToUtf8(std::string_view bytes, bool bigEndian, std::string& reason);
// UTF-16LE without a byte-order mark; a byte that does not start valid UTF-8 stands for
// itself (Latin-1).
std::string Utf8ToUtf16Le(std::string_view text);

}  // namespace platform
