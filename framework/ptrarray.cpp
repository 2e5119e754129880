// CPtrArray: a growable array of untyped pointers. Indices outside the array are
// refused with std::out_of_range rather than written past the end.
#include <stdexcept>

#include "framework/afx.h"

void CPtrArray::SetSize(int newSize, int /*growBy*/) {
  if (newSize < 0) throw std::out_of_range("CPtrArray::SetSize: negative size");
  items_.resize(static_cast<size_t>(newSize), nullptr);
}

int CPtrArray::Add(void* p) {
  items_.push_back(p);
  return GetUpperBound();
}

void CPtrArray::InsertAt(int i, void* p) {
  if (i < 0) throw std::out_of_range("CPtrArray::InsertAt: negative index");
  // Inserting beyond the end grows the array with null pointers up to the new element.
  if (i >= GetSize()) {
    SetSize(i + 1);
    items_[static_cast<size_t>(i)] = p;
    return;
  }
  items_.insert(items_.begin() + i, p);
}

void CPtrArray::RemoveAt(int i, int count) {
  if (i < 0 || count < 0 || i > GetSize() - count) {
    throw std::out_of_range("CPtrArray::RemoveAt: range outside the array");
  }
  items_.erase(items_.begin() + i, items_.begin() + i + count);
}
