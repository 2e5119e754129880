// The plug-in's string table: every text the user can see, under its numeric id.
#pragma once
#include <span>

#include "platform/winbase.h"

namespace kv70::resources {

struct StringEntry {
  UINT id;
  const char* text;
};

// All entries, in ascending id order.
std::span<const StringEntry> StringTable();

}  // namespace kv70::resources
