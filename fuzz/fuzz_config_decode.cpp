// The configuration record's decoder on arbitrary replies: any length, any bytes.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>

#include "models/kv70_config.h"
#include "models/month_index.h"
#include "resources/resource_table.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // The "None" text of unset fields comes from the string table.
  kv70::resources::RegisterResourceModule("DevKV70",
                                          reinterpret_cast<const void*>(&LLVMFuzzerInitialize));
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // An exactly sized copy, so that reading past the reply is caught.
  std::unique_ptr<BYTE[]> reply(new BYTE[size ? size : 1]);
  if (size) std::memcpy(reply.get(), data, size);

  CKV70Config config;
  const BOOL accepted = config.Decode(size ? reply.get() : nullptr, static_cast<DWORD>(size));
  if (accepted != (size == CKV70Config::RECORD_SIZE)) std::abort();

  // Everything the views read must stay within the object.
  volatile std::size_t sink = std::strlen(config.GetSerialNumber()) +
                              std::strlen(config.GetOwnerString1()) +
                              std::strlen(config.GetOwnerString2());
  for (int i = 0; i < config.GetOptionCount(); ++i) {
    const COptionDesc* option = config.GetOption(i);
    sink = sink + std::strlen(option->GetDisplayName()) + (option->IsInstalled() ? 1 : 0);
    if (const auto* dated = dynamic_cast<const CDatedOption*>(option))
      sink = sink + static_cast<std::size_t>(MonthIndexToDate(dated->GetMonthIndex()).year);
  }
  for (int i = 0; i < config.GetAppEntryCount(); ++i) sink = sink + config.GetAppEntry(i)->Value;
  (void)sink;
  return 0;
}
