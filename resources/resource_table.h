// All resources of the plug-in as one table of platform::ResourceEntry: the string
// table, the dialog templates, bitmap 131 and the flash monitor image.
#pragma once
#include <span>

#include "platform/module.h"

namespace kv70::resources {

// Built on first use; lives until the process ends.
std::span<const platform::ResourceEntry> ResourceTable();

// Registers the table as a module named `name` whose file holds `addressInside`.
HMODULE RegisterResourceModule(const char* name, const void* addressInside);

}  // namespace kv70::resources
