#include "resources/resource_table.h"

#include <cstring>
#include <vector>

#include "framework/dlgtemplate.h"
#include "resources/bitmap131.h"
#include "resources/dialogs.h"
#include "resources/monitor_image.h"
#include "resources/resource.h"
#include "resources/strings.h"

namespace kv70::resources {

namespace {

std::vector<platform::ResourceEntry> BuildTable() {
  std::vector<platform::ResourceEntry> table;
  for (const StringEntry& s : StringTable()) {
    table.push_back({RT_STRING, s.id, s.text, std::strlen(s.text)});
  }
  for (const DlgTemplate* t : DialogTemplates()) {
    table.push_back({RT_DIALOG, t->id, t, sizeof(DlgTemplate)});
  }
  table.push_back({RT_BITMAP, IDB_SIDE_PANEL, &SidePanelBitmap(), sizeof(BitmapResource)});
  table.push_back({RT_RCDATA, IDR_FLASH_MONITOR, kFlashMonitorImage, kFlashMonitorImageSize});
  return table;
}

}  // namespace

std::span<const platform::ResourceEntry> ResourceTable() {
  static const std::vector<platform::ResourceEntry> table = BuildTable();
  return table;
}

HMODULE RegisterResourceModule(const char* name, const void* addressInside) {
  auto table = ResourceTable();
  return platform::RegisterModule(name, addressInside, table.data(), table.size());
}

}  // namespace kv70::resources
