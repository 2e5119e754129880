// A thread-safe table from opaque handle values to the objects they stand for: events,
// windows, open registry keys, bitmaps. A handle is only a number; the table decides
// whether it names anything, so a stale or forged handle is refused instead of
// dereferenced.
#pragma once
#include <cstdint>
#include <mutex>
#include <optional>
#include <unordered_map>
#include <utility>

namespace platform {

// Handles are numbers that are never reused: a handle kept after its object was
// released stays invalid rather than reaching a newer object that happens to get the
// same number. The first handle is `first + step`; each kind of object starts in its own
// range so that a handle of one kind passed for another is unknown there too. The null
// handle is never handed out and never found.
template <typename Handle, typename T>
class HandleTable {
 public:
  HandleTable(std::uintptr_t first, std::uintptr_t step) : next_(first), step_(step) {}
  HandleTable(const HandleTable&) = delete;
  HandleTable& operator=(const HandleTable&) = delete;

  Handle Add(T value) {
    return Emplace([&](Handle) { return std::move(value); });
  }

  // Builds the object from its handle, under the table's lock, so that an object that
  // records its own handle is whole before any other thread can find it.
  template <typename Make>
  Handle Emplace(Make&& make) {
    std::lock_guard lock(mutex_);
    next_ += step_;
    auto handle = reinterpret_cast<Handle>(next_);
    entries_.emplace(handle, make(handle));
    return handle;
  }

  std::optional<T> Find(Handle handle) const {
    std::lock_guard lock(mutex_);
    auto it = entries_.find(handle);
    if (it == entries_.end()) return std::nullopt;
    return it->second;
  }

  // Takes the object out of the table and hands it back, so that the caller destroys
  // it outside the table's lock; nullopt when the handle names nothing.
  std::optional<T> Remove(Handle handle) {
    std::lock_guard lock(mutex_);
    auto it = entries_.find(handle);
    if (it == entries_.end()) return std::nullopt;
    std::optional<T> value(std::move(it->second));
    entries_.erase(it);
    return value;
  }

  std::size_t Size() const {
    std::lock_guard lock(mutex_);
    return entries_.size();
  }

 private:
  mutable std::mutex mutex_;
  std::uintptr_t next_;
  const std::uintptr_t step_;
  std::unordered_map<Handle, T> entries_;
};

}  // namespace platform
