// The registry's store on Windows: the system registry itself (win32/api/registry.cpp),
// so that the keys the host and the plug-in keep are the ones every other Windows
// program sees. Key ids name key paths for the life of the process.
//
// With VELMORA_REGISTRY set (tests, a second catalogue) the two roots are moved under
// HKEY_CURRENT_USER\Software\Velmora\Stores\<a name made from that value>, so that such
// a store never touches the machine's own keys.
#include "platform/registry_store.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <new>

#include "platform/environment.h"
#include "platform/registry.h"
#include "platform/win32/neutral.h"

namespace platform::registry {

namespace {

// A failure of the system registry, carried out of a transaction to Run.
struct StoreFailure {
  DWORD error;
};

void Check(DWORD error) {
  if (error != ERROR_SUCCESS) throw StoreFailure{error};
}

struct KeyPath {
  int root;          // 1 HKEY_CURRENT_USER, 2 HKEY_LOCAL_MACHINE (the system's)
  std::string path;  // below the root, "" for the root itself
};

class Store {
 public:
  Store() : lock_(win32::RegLockCreate()) {}
  ~Store() { win32::Close(lock_); }

  std::mutex& Mutex() { return mutex_; }
  win32::Handle Lock() const { return lock_; }

  // The system location of a store root under the current sandbox (VELMORA_REGISTRY).
  KeyPath RootPath(KeyId root) {
    const char* store = std::getenv("VELMORA_REGISTRY");
    const std::string name = root == kLocalMachineId ? "HKEY_LOCAL_MACHINE" : "HKEY_CURRENT_USER";
    if (!store || !*store) return {static_cast<int>(root), ""};
    char hash[32];
    std::snprintf(hash, sizeof hash, "%016zx", std::hash<std::string>{}(store));
    return {1, std::string("Software\\Velmora\\Stores\\") + hash + "\\" + name};
  }

  // A key's id: the two roots, or one given to a path when first met. The sandbox in
  // force is part of the path, so a test's next store gets new ids.
  KeyId IdOf(const KeyPath& key) {
    const auto found = ids_.find({key.root, Fold(key.path)});
    if (found != ids_.end()) return found->second;
    paths_.push_back(key);
    const KeyId id = static_cast<KeyId>(paths_.size()) + 2;
    ids_.emplace(std::make_pair(key.root, Fold(key.path)), id);
    return id;
  }

  KeyPath PathOf(KeyId id) {
    if (id == kCurrentUserId || id == kLocalMachineId) return RootPath(id);
    if (id < 3 || static_cast<std::size_t>(id - 3) >= paths_.size())
      throw StoreFailure{ERROR_INVALID_HANDLE};
    return paths_[static_cast<std::size_t>(id - 3)];
  }

 private:
  std::mutex mutex_;
  win32::Handle lock_;
  std::vector<KeyPath> paths_;
  std::map<std::pair<int, std::string>, KeyId> ids_;
};

Store& TheStore() {
  static Store store;
  return store;
}

KeyPath Below(const KeyPath& parent, std::string_view name) {
  return {parent.root,
          parent.path.empty() ? std::string(name) : parent.path + "\\" + std::string(name)};
}

// An open system key, closed on every way out.
class OpenedKey {
 public:
  OpenedKey() = default;
  ~OpenedKey() { win32::Close(handle_); }
  OpenedKey(const OpenedKey&) = delete;
  OpenedKey& operator=(const OpenedKey&) = delete;
  DWORD Open(const KeyPath& key, bool write, bool create = false) {
    return win32::RegOpen(key.root, key.path, write, create, handle_);
  }
  win32::Handle get() const { return handle_; }

 private:
  win32::Handle handle_ = nullptr;
};

bool ByFoldedName(std::string_view a, std::string_view b) {
  return Fold(a) < Fold(b);
}

class SystemTransaction : public Transaction {
 public:
  explicit SystemTransaction(Store& store) : store_(store) {}

  bool KeyExists(KeyId id) override {
    OpenedKey key;
    const DWORD error = key.Open(store_.PathOf(id), false);
    if (error == ERROR_FILE_NOT_FOUND) return false;
    Check(error);
    return true;
  }

  std::optional<KeyId> FindChild(KeyId parent, std::string_view name) override {
    const KeyPath child = Below(store_.PathOf(parent), name);
    OpenedKey key;
    const DWORD error = key.Open(child, false);
    if (error == ERROR_FILE_NOT_FOUND) return std::nullopt;
    Check(error);
    return store_.IdOf(child);
  }

  KeyId AddChild(KeyId parent, std::string_view name) override {
    const KeyPath child = Below(store_.PathOf(parent), name);
    OpenedKey key;
    Check(key.Open(child, true, true));
    return store_.IdOf(child);
  }

  std::optional<std::string> ChildAt(KeyId parent, std::uint64_t index) override {
    const std::vector<Child> children = Children(parent);
    if (index >= children.size()) return std::nullopt;
    return children[static_cast<std::size_t>(index)].name;
  }

  std::vector<Child> Children(KeyId parent) override {
    const KeyPath path = store_.PathOf(parent);
    OpenedKey key;
    Check(key.Open(path, false));
    std::vector<std::string> names;
    for (std::uint32_t i = 0;; ++i) {
      std::string name;
      const DWORD error = win32::RegSubkeyAt(key.get(), i, name);
      if (error == ERROR_NO_MORE_ITEMS) break;
      Check(error);
      names.push_back(std::move(name));
    }
    std::sort(names.begin(), names.end(), ByFoldedName);
    std::vector<Child> children;
    for (auto& name : names) children.push_back({store_.IdOf(Below(path, name)), std::move(name)});
    return children;
  }

  bool HasChildren(KeyId id) override {
    OpenedKey key;
    Check(key.Open(store_.PathOf(id), false));
    std::uint32_t count = 0;
    Check(win32::RegSubkeyCount(key.get(), count));
    return count != 0;
  }

  void DeleteKey(KeyId id) override {
    const KeyPath path = store_.PathOf(id);
    const std::size_t slash = path.path.find_last_of('\\');
    const KeyPath parent{path.root, slash == std::string::npos ? "" : path.path.substr(0, slash)};
    const std::string name = slash == std::string::npos ? path.path : path.path.substr(slash + 1);
    OpenedKey key;
    Check(key.Open(parent, true));
    Check(win32::RegRemoveSubkey(key.get(), name));
  }

  std::optional<Value> GetValue(KeyId id, std::string_view name) override {
    OpenedKey key;
    Check(key.Open(store_.PathOf(id), false));
    win32::RegValue value;
    const DWORD error = win32::RegReadValue(key.get(), std::string(name), value);
    if (error == ERROR_FILE_NOT_FOUND) return std::nullopt;
    Check(error);
    return Value{std::move(value.name), value.type, std::move(value.data)};
  }

  void SetValue(KeyId id, std::string_view name, DWORD type, const BYTE* data,
                std::size_t size) override {
    OpenedKey key;
    Check(key.Open(store_.PathOf(id), true));
    Check(win32::RegWriteValue(key.get(), std::string(name), type, data, size));
  }

  bool DeleteValue(KeyId id, std::string_view name) override {
    OpenedKey key;
    Check(key.Open(store_.PathOf(id), true));
    const DWORD error = win32::RegRemoveValue(key.get(), std::string(name));
    if (error == ERROR_FILE_NOT_FOUND) return false;
    Check(error);
    return true;
  }

  std::vector<Value> Values(KeyId id) override {
    OpenedKey key;
    Check(key.Open(store_.PathOf(id), false));
    std::vector<Value> values;
    for (std::uint32_t i = 0;; ++i) {
      win32::RegValue value;
      const DWORD error = win32::RegValueAt(key.get(), i, value);
      if (error == ERROR_NO_MORE_ITEMS) break;
      Check(error);
      values.push_back({std::move(value.name), value.type, std::move(value.data)});
    }
    std::sort(values.begin(), values.end(),
              [](const Value& a, const Value& b) { return ByFoldedName(a.name, b.name); });
    return values;
  }

 private:
  Store& store_;
};

}  // namespace

// The system registry has no transactions; one process-wide and one system-wide lock
// keep each call's reads and writes together, which is what the callers rely on.
LONG Run(bool write, const std::function<LONG(Transaction&)>& work) {
  Store& store = TheStore();
  std::lock_guard lock(store.Mutex());
  win32::RegLockTake(store.Lock());
  LONG result;
  try {
    SystemTransaction tx(store);
    // The roots of a sandbox exist before anything is asked of them.
    for (KeyId root : {kCurrentUserId, kLocalMachineId}) {
      if (!store.RootPath(root).path.empty()) {
        OpenedKey key;
        Check(key.Open(store.RootPath(root), true, true));
      }
    }
    result = work(tx);
  } catch (const StoreFailure& failure) {
    result = static_cast<LONG>(failure.error);
  } catch (const std::bad_alloc&) {
    result = static_cast<LONG>(ERROR_NOT_ENOUGH_MEMORY);
  }
  win32::RegLockRelease(store.Lock());
  (void)write;
  return result;
}

}  // namespace platform::registry

namespace platform {

std::string RegistryPath() {
  if (const char* path = std::getenv("VELMORA_REGISTRY"); path && *path) return path;
  // Not a file: the system registry. Its "directory" is where the host keeps its data.
  return UserDataDirectory() + "\\Velmora\\registry";
}

// The system registry is always there and always the registry: asking opens the roots.
LONG CheckRegistryStore() {
  return registry::Run(false, [](registry::Transaction&) { return LONG{ERROR_SUCCESS}; });
}

// No file holds the system registry that an export could write over.
bool IsRegistryStoreFile(const std::string&) {
  return false;
}

}  // namespace platform
