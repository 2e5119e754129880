// CString: a std::string with the framework string's operations and conventions
// (a null text reads as the empty text; out-of-range counts are clamped).
#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>

#include "framework/afx.h"

namespace {

const char* OrEmpty(const char* text) {
  return text ? text : "";
}

char AsciiLower(char ch) {
  return (ch >= 'A' && ch <= 'Z') ? static_cast<char>(ch - 'A' + 'a') : ch;
}
char AsciiUpper(char ch) {
  return (ch >= 'a' && ch <= 'z') ? static_cast<char>(ch - 'a' + 'A') : ch;
}
bool IsSpace(char ch) {
  return std::isspace(static_cast<unsigned char>(ch)) != 0;
}

}  // namespace

CString::CString(const char* text) : s_(OrEmpty(text)) {}

CString::CString(const char* text, int length) {
  // Stop at a terminator inside the count so that a too-large length cannot over-read.
  if (text && length > 0) s_.assign(text, strnlen(text, static_cast<size_t>(length)));
}

CString& CString::operator=(const char* text) {
  s_ = OrEmpty(text);
  return *this;
}

CString& CString::operator+=(const char* text) {
  s_ += OrEmpty(text);
  return *this;
}

int CString::Compare(const char* text) const {
  return std::strcmp(s_.c_str(), OrEmpty(text));
}

int CString::CompareNoCase(const char* text) const {
  const char* a = s_.c_str();
  const char* b = OrEmpty(text);
  for (;; ++a, ++b) {
    const auto ca = static_cast<unsigned char>(AsciiLower(*a));
    const auto cb = static_cast<unsigned char>(AsciiLower(*b));
    if (ca != cb) return ca < cb ? -1 : 1;
    if (ca == 0) return 0;
  }
}

CString CString::Left(int count) const {
  count = std::clamp(count, 0, GetLength());
  return CString(s_.substr(0, static_cast<size_t>(count)));
}

CString CString::Right(int count) const {
  count = std::clamp(count, 0, GetLength());
  return CString(s_.substr(s_.size() - static_cast<size_t>(count)));
}

CString CString::Mid(int first, int count) const {
  first = std::clamp(first, 0, GetLength());
  const int rest = GetLength() - first;
  count = (count < 0) ? rest : std::min(count, rest);
  return CString(s_.substr(static_cast<size_t>(first), static_cast<size_t>(count)));
}

int CString::Find(char ch, int start) const {
  if (start < 0 || start >= GetLength()) return -1;
  const size_t at = s_.find(ch, static_cast<size_t>(start));
  return at == std::string::npos ? -1 : static_cast<int>(at);
}

int CString::Find(const char* sub, int start) const {
  if (!sub || start < 0 || start > GetLength()) return -1;
  const size_t at = s_.find(sub, static_cast<size_t>(start));
  return at == std::string::npos ? -1 : static_cast<int>(at);
}

int CString::ReverseFind(char ch) const {
  const size_t at = s_.rfind(ch);
  return at == std::string::npos ? -1 : static_cast<int>(at);
}

void CString::MakeUpper() {
  std::transform(s_.begin(), s_.end(), s_.begin(), AsciiUpper);
}
void CString::MakeLower() {
  std::transform(s_.begin(), s_.end(), s_.begin(), AsciiLower);
}

void CString::TrimLeft() {
  s_.erase(s_.begin(), std::find_if_not(s_.begin(), s_.end(), IsSpace));
}

void CString::TrimRight() {
  s_.erase(std::find_if_not(s_.rbegin(), s_.rend(), IsSpace).base(), s_.end());
}

int CString::Replace(char from, char to) {
  if (from == to) return 0;
  int replaced = 0;
  for (char& ch : s_) {
    if (ch == from) {
      ch = to;
      ++replaced;
    }
  }
  return replaced;
}

void CString::Format(const char* format, ...) {
  va_list args;
  va_start(args, format);
  FormatV(format, args);
  va_end(args);
}

void CString::Format(UINT formatId, ...) {
  CString format;
  format.LoadString(formatId);
  va_list args;
  va_start(args, formatId);
  FormatV(format.GetString(), args);
  va_end(args);
}

void CString::FormatV(const char* format, va_list args) {
  if (!format) {
    s_.clear();
    return;
  }
  // Measure first, then print; the result is built apart from s_ because an argument
  // may be this very string.
  va_list measure;
  va_copy(measure, args);
  const int length = std::vsnprintf(nullptr, 0, format, measure);
  va_end(measure);
  if (length <= 0) {
    s_.clear();
    return;
  }
  std::string result(static_cast<size_t>(length), '\0');
  std::vsnprintf(result.data(), result.size() + 1, format, args);
  s_ = std::move(result);
}

BOOL CString::LoadString(UINT id) {
  const HINSTANCE module = AfxFindResourceHandle(id, RT_STRING);
  const platform::ResourceEntry* entry =
      module ? platform::FindResource(module, id, RT_STRING) : nullptr;
  if (!entry || !entry->data) {
    s_.clear();
    return FALSE;
  }
  s_.assign(static_cast<const char*>(entry->data), entry->size);
  return TRUE;
}

char* CString::GetBuffer(int minLength) {
  // One spare byte beyond the requested length: a caller may write minLength characters
  // and then its own terminator.
  const size_t wanted = static_cast<size_t>(std::max(minLength, 0));
  s_.resize(std::max(s_.size(), wanted) + 1, '\0');
  return s_.data();
}

void CString::ReleaseBuffer(int newLength) {
  size_t length = newLength < 0 ? std::strlen(s_.c_str()) : static_cast<size_t>(newLength);
  s_.resize(std::min(length, s_.size()));
}

void AfxCopyTruncated(char* dest, const char* src, UINT max) {
  if (!dest || max == 0) return;
  const size_t n = src ? strnlen(src, max - 1) : 0;
  if (n) std::memcpy(dest, src, n);
  dest[n] = '\0';
}
