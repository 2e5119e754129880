// Inside the platform layer only: the registry's SQLite store. One connection per
// process behind one lock; every Run is one transaction.
#pragma once
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/winbase.h"

namespace platform::registry {

using KeyId = std::int64_t;

// Rows of the two predefined keys; every other key descends from one of them.
constexpr KeyId kCurrentUserId = 1;
constexpr KeyId kLocalMachineId = 2;

// Longest key name component and value name accepted, as on Windows.
constexpr std::size_t kMaxKeyNameLength = 255;
constexpr std::size_t kMaxValueNameLength = 16383;

// Names compare without regard to ASCII letter case, and sort by their upper-case form
// as the Windows registry sorts them.
std::string Fold(std::string_view name);

struct Value {
  std::string name;
  DWORD type = 0;
  std::vector<BYTE> data;
};

struct Child {
  KeyId id;
  std::string name;
};

// The queries and changes a transaction may make. They throw on a store failure; Run
// turns that into an error number and rolls the transaction back.
class Transaction {
 public:
  virtual ~Transaction() = default;
  virtual bool KeyExists(KeyId id) = 0;
  virtual std::optional<KeyId> FindChild(KeyId parent, std::string_view name) = 0;
  virtual KeyId AddChild(KeyId parent, std::string_view name) = 0;
  virtual std::optional<std::string> ChildAt(KeyId parent, std::uint64_t index) = 0;
  virtual std::vector<Child> Children(KeyId parent) = 0;  // in case-insensitive order
  virtual bool HasChildren(KeyId id) = 0;
  virtual void DeleteKey(KeyId id) = 0;  // with its values
  virtual std::optional<Value> GetValue(KeyId key, std::string_view name) = 0;
  virtual void SetValue(KeyId key, std::string_view name, DWORD type, const BYTE* data,
                        std::size_t size) = 0;
  virtual bool DeleteValue(KeyId key, std::string_view name) = 0;
  virtual std::vector<Value> Values(KeyId key) = 0;  // in case-insensitive order
};

// Runs `work` as one transaction (a write transaction takes the store's write lock at
// once, waiting up to the busy time-out). Commits when work returns ERROR_SUCCESS, else
// rolls back; store failures become ERROR_ACCESS_DENIED, ERROR_BUSY, ERROR_DISK_FULL.
LONG Run(bool write, const std::function<LONG(Transaction&)>& work);

}  // namespace platform::registry
