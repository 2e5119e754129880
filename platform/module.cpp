// Registered modules, their resource tables, their file paths, and the version block
// read from a module's file.
#include "platform/module.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <string_view>
#include <vector>

#include "platform/file_io.h"
#include "platform/files.h"
#include "platform/module_path.h"

namespace platform {

namespace {

struct Module {
  std::string name;
  std::string path;
  const ResourceEntry* table;
  std::size_t count;
};

std::mutex gModulesMutex;

std::vector<std::unique_ptr<Module>>& Modules() {
  static std::vector<std::unique_ptr<Module>> modules;
  return modules;
}

// Caller holds gModulesMutex.
Module* FindModuleLocked(HMODULE handle) {
  for (auto& module : Modules()) {
    if (reinterpret_cast<HMODULE>(module.get()) == handle) return module.get();
  }
  return nullptr;
}

// Version block layout (see module.h): magic, u16 LE length, key/value string pairs,
// and a zero byte where the next key would start, which is the block's last byte.
constexpr std::size_t kMagicSize = 18;
constexpr std::size_t kHeaderSize = kMagicSize + 2;

// The magic is compared in two parts so that this file's own code does not carry the
// whole magic and read as a block when someone scans libframework itself.
bool HasMagic(const BYTE* p) {
  static constexpr char kName[] = "VS_VERSION_INFO";  // 15 characters and its zero
  return std::memcmp(p, kName, sizeof kName) == 0 && p[16] == 0xFE && p[17] == 0xEF;
}

// Size of a well-formed block starting at p with `available` bytes readable, or 0.
std::size_t CheckBlock(const BYTE* p, std::size_t available) {
  if (available < kHeaderSize + 1 || !HasMagic(p)) return 0;
  std::size_t length = p[kMagicSize] | (static_cast<std::size_t>(p[kMagicSize + 1]) << 8);
  if (length == 0 || length > available - kHeaderSize) return 0;
  const BYTE* pos = p + kHeaderSize;
  const BYTE* end = pos + length;
  while (pos < end && *pos != 0) {
    for (int part = 0; part < 2; ++part) {  // key, then value
      const void* zero = std::memchr(pos, 0, static_cast<std::size_t>(end - pos));
      if (!zero) return 0;
      pos = static_cast<const BYTE*>(zero) + 1;
    }
  }
  // The end mark must be exactly the last counted byte.
  if (pos != end - 1 || *pos != 0) return 0;
  return kHeaderSize + length;
}

// A whole file read into memory (a module is small enough), through the platform's file
// service so that failures carry Windows error numbers on every system.
class MappedFile {
 public:
  explicit MappedFile(const std::string& path) {
    int fd = -1;
    DWORD error = FileOpen(path, FileAccess::kRead, false, fd);
    if (error != ERROR_SUCCESS) {
      SetLastError(error);
      return;
    }
    FileKind kind;
    std::uint64_t length = 0;
    if (FileKindOf(fd, kind) == ERROR_SUCCESS && kind.isRegular &&
        FileLength(fd, length) == ERROR_SUCCESS && length > 0) {
      bytes_.resize(static_cast<std::size_t>(length));
      std::size_t done = 0;
      while (done < bytes_.size()) {
        std::size_t got = 0;
        error = FileReadSome(fd, bytes_.data() + done, bytes_.size() - done, got);
        if (error != ERROR_SUCCESS || got == 0) break;
        done += got;
      }
      if (done != bytes_.size()) {
        SetLastError(error != ERROR_SUCCESS ? error : ERROR_READ_FAULT);
        bytes_.clear();
      }
    } else {
      SetLastError(ERROR_BAD_FORMAT);
    }
    FileClose(fd);
  }
  const BYTE* data() const { return bytes_.empty() ? nullptr : bytes_.data(); }
  std::size_t size() const { return bytes_.size(); }

 private:
  std::vector<BYTE> bytes_;
};

// The first well-formed block in the file: offset and size, size 0 when none.
struct BlockPlace {
  std::size_t offset = 0;
  std::size_t size = 0;
};

BlockPlace FindBlock(const MappedFile& file) {
  const BYTE* data = file.data();
  std::size_t size = file.size();
  std::size_t offset = 0;
  while (data && offset + kHeaderSize < size) {
    const std::string_view rest(reinterpret_cast<const char*>(data) + offset, size - offset);
    const std::size_t hit = rest.find(std::string_view("VS_VERSION_INFO", 16));
    if (hit == std::string_view::npos) break;
    offset += hit;
    if (std::size_t blockSize = CheckBlock(data + offset, size - offset))
      return {offset, blockSize};
    ++offset;
  }
  return {};
}

bool EqualsNoCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) ==
                  std::tolower(static_cast<unsigned char>(y));
         });
}

}  // namespace

HMODULE RegisterModule(const char* name, const void* addressInside, const ResourceEntry* table,
                       std::size_t count) {
  auto module = std::make_unique<Module>();
  module->name = name ? name : "";
  module->path = ModuleFilePath(addressInside);
  module->table = table;
  module->count = table ? count : 0;
  std::lock_guard lock(gModulesMutex);
  Modules().push_back(std::move(module));
  return reinterpret_cast<HMODULE>(Modules().back().get());
}

void UnregisterModule(HMODULE handle) {
  std::lock_guard lock(gModulesMutex);
  std::erase_if(Modules(),
                [&](const auto& m) { return reinterpret_cast<HMODULE>(m.get()) == handle; });
}

const ResourceEntry* FindResource(HMODULE handle, UINT id, int type) {
  std::lock_guard lock(gModulesMutex);
  for (const auto& module : Modules()) {
    if (handle && reinterpret_cast<HMODULE>(module.get()) != handle) continue;
    for (std::size_t i = 0; i < module->count; ++i) {
      const ResourceEntry& entry = module->table[i];
      if (entry.id == id && entry.type == type) return &entry;
    }
  }
  SetLastError(handle && !FindModuleLocked(handle) ? ERROR_INVALID_HANDLE : ERROR_FILE_NOT_FOUND);
  return nullptr;
}

DWORD GetModuleFileName(HMODULE handle, char* buffer, DWORD size) {
  std::string path;
  if (!handle) {
    path = ModuleFilePath(nullptr);
  } else {
    std::lock_guard lock(gModulesMutex);
    Module* module = FindModuleLocked(handle);
    if (!module) {
      SetLastError(ERROR_INVALID_HANDLE);
      return 0;
    }
    path = module->path;
  }
  if (!buffer || size == 0 || path.empty()) {
    SetLastError(path.empty() ? ERROR_FILE_NOT_FOUND : ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  std::size_t copied = std::min<std::size_t>(path.size(), size - 1);
  std::memcpy(buffer, path.data(), copied);
  buffer[copied] = '\0';
  if (copied < path.size()) SetLastError(ERROR_INSUFFICIENT_BUFFER);
  return static_cast<DWORD>(copied);
}

std::string GetModuleName(HMODULE handle) {
  std::lock_guard lock(gModulesMutex);
  Module* module = FindModuleLocked(handle);
  return module ? module->name : std::string();
}

DWORD GetFileVersionInfoSize(const char* path, DWORD* handle) {
  if (handle) *handle = 0;
  if (!path || !*path) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  MappedFile file(ToNativePath(path));
  BlockPlace block = FindBlock(file);
  if (block.size == 0 && file.data()) SetLastError(ERROR_RESOURCE_TYPE_NOT_FOUND);
  return static_cast<DWORD>(block.size);
}

BOOL GetFileVersionInfo(const char* path, DWORD handle, DWORD size, void* data) {
  if (!path || !*path || !data) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  MappedFile file(ToNativePath(path));
  BlockPlace block = FindBlock(file);
  if (block.size == 0) {
    if (file.data()) SetLastError(ERROR_RESOURCE_TYPE_NOT_FOUND);
    return FALSE;
  }
  if (size < block.size) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return FALSE;
  }
  std::memcpy(data, file.data() + block.offset, block.size);
  return TRUE;
}

BOOL VerQueryValue(const void* data, const char* subBlock, void** value, UINT* length) {
  if (!data || !subBlock || !value || !length) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  auto p = static_cast<const BYTE*>(data);
  if (!HasMagic(p)) {
    SetLastError(ERROR_INVALID_DATA);
    return FALSE;
  }
  // The block was checked when it was read; its own length bounds the walk.
  std::size_t blockLength = p[kMagicSize] | (static_cast<std::size_t>(p[kMagicSize + 1]) << 8);
  if (CheckBlock(p, kHeaderSize + blockLength) == 0) {
    SetLastError(ERROR_INVALID_DATA);
    return FALSE;
  }
  auto pos = reinterpret_cast<const char*>(p + kHeaderSize);
  while (*pos != '\0') {
    std::string_view key(pos);
    const char* text = pos + key.size() + 1;
    std::size_t textLength = std::strlen(text);
    if (EqualsNoCase(key, subBlock)) {
      *value = const_cast<char*>(text);
      *length = static_cast<UINT>(textLength + 1);
      return TRUE;
    }
    pos = text + textLength + 1;
  }
  SetLastError(ERROR_RESOURCE_TYPE_NOT_FOUND);
  return FALSE;
}

}  // namespace platform
