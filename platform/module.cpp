// Registered modules, their resource tables, their file paths, and the version block
// read from a module's file.
#include "platform/module.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <limits.h>
#include <sys/auxv.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <string_view>
#include <vector>

#include "platform/files.h"

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

std::string ExecutablePath() {
  char buffer[PATH_MAX];
  ssize_t n = ::readlink("/proc/self/exe", buffer, sizeof buffer - 1);
  if (n <= 0) return {};
  return std::string(buffer, static_cast<std::size_t>(n));
}

// The file that holds `address`: the loader's record of it, made absolute. For the main
// program the loader records no usable name, so the kernel's link to it is used.
std::string ModulePathOf(const void* address) {
  Dl_info info{};
  if (!address || ::dladdr(address, &info) == 0) return ExecutablePath();
  Dl_info mainInfo{};
  auto mainPhdr = reinterpret_cast<const void*>(::getauxval(AT_PHDR));
  if (mainPhdr && ::dladdr(mainPhdr, &mainInfo) != 0 && mainInfo.dli_fbase == info.dli_fbase) {
    return ExecutablePath();
  }
  if (!info.dli_fname || !*info.dli_fname) return ExecutablePath();
  char resolved[PATH_MAX];
  if (::realpath(info.dli_fname, resolved)) return resolved;
  return info.dli_fname;
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

// A read-only mapping of a whole file, unmapped on every way out.
class MappedFile {
 public:
  explicit MappedFile(const std::string& path) {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
      SetLastError(ErrorFromErrno(errno));
      return;
    }
    struct stat st {};
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0) {
      void* data =
          ::mmap(nullptr, static_cast<std::size_t>(st.st_size), PROT_READ, MAP_PRIVATE, fd, 0);
      if (data != MAP_FAILED) {
        data_ = static_cast<const BYTE*>(data);
        size_ = static_cast<std::size_t>(st.st_size);
      } else {
        SetLastError(ErrorFromErrno(errno));
      }
    } else {
      SetLastError(ERROR_BAD_FORMAT);
    }
    ::close(fd);
  }
  ~MappedFile() {
    if (data_) ::munmap(const_cast<BYTE*>(data_), size_);
  }
  MappedFile(const MappedFile&) = delete;
  MappedFile& operator=(const MappedFile&) = delete;
  const BYTE* data() const { return data_; }
  std::size_t size() const { return size_; }

 private:
  const BYTE* data_ = nullptr;
  std::size_t size_ = 0;
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
    const void* hit = ::memmem(data + offset, size - offset, "VS_VERSION_INFO", 16);
    if (!hit) break;
    offset = static_cast<std::size_t>(static_cast<const BYTE*>(hit) - data);
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
  module->path = ModulePathOf(addressInside);
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
    path = ExecutablePath();
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
