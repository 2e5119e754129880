// REGEDIT4 text files: reading them into the store in one transaction, and writing a
// key and everything below it. Windows' registry editor writes the same layout under the
// first line "Windows Registry Editor Version 5.00", in UTF-16LE with a byte-order mark;
// such files are read too (and written when asked).
//
// File layout:
//   REGEDIT4                                  first line
//   (blank line)
//   [HKEY_LOCAL_MACHINE\SOFTWARE\Quarnell]    a key (created with its parents)
//   "Name"="text with \\ and \" escaped"      REG_SZ
//   @="text"                                  the key's default value
//   "Flag"=dword:0000000a                     REG_DWORD, up to 8 hex digits
//   "Blob"=hex:01,02,ff                       REG_BINARY; a line may end in ",\" and go on
//   "Other"=hex(7):41,00,00                   any other type, by number
// In a version 5.00 file the string types written as hex (hex(1), hex(2), hex(7)) hold
// UTF-16LE; the store keeps them as the same UTF-8 text as quoted strings.
//   "Gone"=-                                  deletes the value
//   [-HKEY_LOCAL_MACHINE\SOFTWARE\Old]        deletes the key and everything below it
//   ; comment
#include <cerrno>
#include <cstdio>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "platform/output_file.h"
#include "platform/registry.h"
#include "platform/registry_store.h"
#include "platform/utf16.h"

namespace platform {

namespace {

using registry::KeyId;
using registry::Transaction;

constexpr std::string_view kHeader = "REGEDIT4";
constexpr std::string_view kUnicodeHeader = "Windows Registry Editor Version 5.00";
constexpr std::size_t kHexLineWidth = 76;

// Root name, its row.
struct RootRow {
  std::string_view name;
  KeyId id;
};
constexpr RootRow kRoots[] = {
    {"HKEY_CURRENT_USER", registry::kCurrentUserId},
    {"HKEY_LOCAL_MACHINE", registry::kLocalMachineId},
};

struct KeyPath {
  KeyId root;
  std::vector<std::string> names;
};

struct OpenSection {
  KeyPath path;
};
struct DeleteKeyTree {
  KeyPath path;
};
struct SetValue {
  std::string name;
  DWORD type;
  std::vector<BYTE> data;
};
struct DeleteValue {
  std::string name;
};
using Step = std::variant<OpenSection, DeleteKeyTree, SetValue, DeleteValue>;

struct ParseError {
  std::size_t line;
  std::string reason;
};

std::optional<KeyPath> ParseKeyPath(std::string_view text, std::string& reason) {
  std::size_t slash = text.find('\\');
  std::string_view rootName = text.substr(0, slash);
  KeyPath path{0, {}};
  for (const auto& root : kRoots) {
    if (registry::Fold(rootName) == root.name) path.root = root.id;
  }
  if (path.root == 0) {
    reason = "unknown root key \"" + std::string(rootName) + "\"";
    return std::nullopt;
  }
  while (slash != std::string_view::npos) {
    std::size_t start = slash + 1;
    slash = text.find('\\', start);
    std::string_view name =
        text.substr(start, slash == std::string_view::npos ? slash : slash - start);
    if (name.empty() && slash == std::string_view::npos) break;  // trailing backslash
    if (name.empty()) {
      reason = "empty key name in \"" + std::string(text) + "\"";
      return std::nullopt;
    }
    if (name.size() > registry::kMaxKeyNameLength) {
      reason = "key name longer than 255 characters";
      return std::nullopt;
    }
    path.names.emplace_back(name);
  }
  return path;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::string_view TrimSpace(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  return text;
}

// A quoted string starting at text[0] == '"'; leaves `rest` after the closing quote.
std::optional<std::string> ParseQuoted(std::string_view text, std::string_view& rest,
                                       std::string& reason) {
  std::string out;
  for (std::size_t i = 1; i < text.size(); ++i) {
    char c = text[i];
    if (c == '"') {
      rest = text.substr(i + 1);
      return out;
    }
    if (c == '\\') {
      if (i + 1 >= text.size() || (text[i + 1] != '\\' && text[i + 1] != '"')) {
        reason = "unknown escape in a quoted string (only \\\\ and \\\" are allowed)";
        return std::nullopt;
      }
      c = text[++i];
    }
    out += c;
  }
  reason = "quoted string without its closing quote";
  return std::nullopt;
}

std::optional<std::vector<BYTE>> ParseHexBytes(std::string_view text, std::string& reason) {
  std::vector<BYTE> bytes;
  text = TrimSpace(text);
  if (text.empty()) return bytes;
  std::size_t start = 0;
  for (;;) {
    std::size_t comma = text.find(',', start);
    std::string_view item =
        TrimSpace(text.substr(start, comma == std::string_view::npos ? comma : comma - start));
    if (item.size() != 2 || HexDigit(item[0]) < 0 || HexDigit(item[1]) < 0) {
      reason = "bad hex byte \"" + std::string(item) + "\"";
      return std::nullopt;
    }
    bytes.push_back(static_cast<BYTE>(HexDigit(item[0]) * 16 + HexDigit(item[1])));
    if (comma == std::string_view::npos) break;
    start = comma + 1;
  }
  return bytes;
}

// The data after "=" of a value line.
std::optional<Step> ParseValueData(std::string name, std::string_view data, std::string& reason) {
  data = TrimSpace(data);
  if (data == "-") return DeleteValue{std::move(name)};
  if (!data.empty() && data.front() == '"') {
    std::string_view rest;
    auto text = ParseQuoted(data, rest, reason);
    if (!text) return std::nullopt;
    if (!TrimSpace(rest).empty()) {
      reason = "unexpected text after the string";
      return std::nullopt;
    }
    std::vector<BYTE> bytes(text->begin(), text->end());
    bytes.push_back(0);
    return SetValue{std::move(name), REG_SZ, std::move(bytes)};
  }
  if (data.substr(0, 6) == "dword:") {
    std::string_view digits = data.substr(6);
    if (digits.empty() || digits.size() > 8) {
      reason = "a dword needs 1 to 8 hex digits";
      return std::nullopt;
    }
    DWORD value = 0;
    for (char c : digits) {
      if (HexDigit(c) < 0) {
        reason = "bad hex digit in dword \"" + std::string(digits) + "\"";
        return std::nullopt;
      }
      value = value * 16 + static_cast<DWORD>(HexDigit(c));
    }
    std::vector<BYTE> bytes = {static_cast<BYTE>(value), static_cast<BYTE>(value >> 8),
                               static_cast<BYTE>(value >> 16), static_cast<BYTE>(value >> 24)};
    return SetValue{std::move(name), REG_DWORD, std::move(bytes)};
  }
  DWORD type = REG_BINARY;
  std::string_view bytesText;
  if (data.substr(0, 4) == "hex:") {
    bytesText = data.substr(4);
  } else if (data.substr(0, 4) == "hex(") {
    std::size_t close = data.find("):");
    std::string_view digits =
        close == std::string_view::npos ? std::string_view() : data.substr(4, close - 4);
    if (digits.empty() || digits.size() > 8) {
      reason = "bad value type in \"hex(...)\"";
      return std::nullopt;
    }
    type = 0;
    for (char c : digits) {
      if (HexDigit(c) < 0) {
        reason = "bad value type in \"hex(...)\"";
        return std::nullopt;
      }
      type = type * 16 + static_cast<DWORD>(HexDigit(c));
    }
    bytesText = data.substr(close + 2);
  } else {
    reason = "value data must be a quoted string, dword:, hex:, hex(n): or -";
    return std::nullopt;
  }
  auto bytes = ParseHexBytes(bytesText, reason);
  if (!bytes) return std::nullopt;
  return SetValue{std::move(name), type, std::move(*bytes)};
}

bool IsStringType(DWORD type) {
  return type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ;
}

// A string type's hex data in a version 5.00 file: UTF-16LE to the store's UTF-8.
bool NarrowStringData(SetValue& value, std::string& reason) {
  if (!IsStringType(value.type)) return true;
  auto text = Utf16ToUtf8(
      std::string_view(reinterpret_cast<const char*>(value.data.data()), value.data.size()), false,
      reason);
  if (!text) {
    reason = "string data in hex(" + std::to_string(value.type) + "): " + reason;
    return false;
  }
  value.data.assign(text->begin(), text->end());
  return true;
}

// A NUL has no place in the text, on a line of its own or on a continuation line: it shows
// UTF-16 without its byte-order mark, and the store's export could not be read back.
ParseError NulInText(std::size_t lineNumber) {
  return ParseError{lineNumber, "a NUL character in the text (UTF-16 needs its byte-order mark)"};
}

// Parses the whole file before anything is written, so that a mistake on line 900
// leaves the store as it was.
std::variant<std::vector<Step>, ParseError> Parse(std::istream& in) {
  std::vector<Step> steps;
  std::string raw;
  std::size_t lineNumber = 0;
  bool sawHeader = false;
  bool inKey = false;    // value lines need a key section (not a deletion) before them
  bool unicode = false;  // "Windows Registry Editor Version 5.00"
  while (std::getline(in, raw)) {
    ++lineNumber;
    std::size_t startLine = lineNumber;
    if (!raw.empty() && raw.back() == '\r') raw.pop_back();
    if (lineNumber == 1 && raw.substr(0, 3) == "\xEF\xBB\xBF") raw.erase(0, 3);
    if (raw.find('\0') != std::string::npos) return NulInText(lineNumber);
    // Hex data may go on over several lines, each but the last ending in a backslash.
    while (!raw.empty() && raw.back() == '\\' && raw.find("=hex") != std::string::npos) {
      std::string next;
      if (!std::getline(in, next))
        return ParseError{lineNumber, "continuation line missing at end of file"};
      ++lineNumber;
      if (next.find('\0') != std::string::npos) return NulInText(lineNumber);
      if (!next.empty() && next.back() == '\r') next.pop_back();
      raw.pop_back();
      raw += TrimSpace(next);
    }
    std::string_view line = TrimSpace(raw);
    if (!sawHeader) {
      if (line.empty()) continue;
      if (line != kHeader && line != kUnicodeHeader) {
        return ParseError{
            startLine,
            "not a registry file (the first line must be REGEDIT4 or Windows Registry Editor "
            "Version 5.00)"};
      }
      sawHeader = true;
      unicode = line == kUnicodeHeader;
      continue;
    }
    if (line.empty() || line.front() == ';') continue;
    std::string reason;
    if (line.front() == '[') {
      if (line.back() != ']') return ParseError{startLine, "key line without its closing ]"};
      std::string_view inside = line.substr(1, line.size() - 2);
      bool remove = !inside.empty() && inside.front() == '-';
      if (remove) inside.remove_prefix(1);
      auto path = ParseKeyPath(inside, reason);
      if (!path) return ParseError{startLine, reason};
      if (remove) {
        if (path->names.empty()) return ParseError{startLine, "a root key cannot be deleted"};
        steps.push_back(DeleteKeyTree{std::move(*path)});
        inKey = false;
      } else {
        steps.push_back(OpenSection{std::move(*path)});
        inKey = true;
      }
      continue;
    }
    std::string name;
    std::string_view rest;
    if (line.front() == '@') {
      rest = TrimSpace(line.substr(1));
    } else if (line.front() == '"') {
      auto quoted = ParseQuoted(line, rest, reason);
      if (!quoted) return ParseError{startLine, reason};
      name = std::move(*quoted);
      if (name.size() > registry::kMaxValueNameLength)
        return ParseError{startLine, "value name too long"};
      rest = TrimSpace(rest);
    } else {
      return ParseError{startLine, "expected [key], \"name\"=data or @=data"};
    }
    if (rest.empty() || rest.front() != '=')
      return ParseError{startLine, "expected = after the value name"};
    if (!inKey) return ParseError{startLine, "value line outside a key section"};
    auto step = ParseValueData(std::move(name), rest.substr(1), reason);
    if (!step) return ParseError{startLine, reason};
    if (unicode && TrimSpace(rest.substr(1)).substr(0, 4) == "hex(" &&
        !NarrowStringData(std::get<SetValue>(*step), reason)) {
      return ParseError{startLine, reason};
    }
    steps.push_back(std::move(*step));
  }
  if (!sawHeader) {
    return ParseError{
        lineNumber == 0 ? 1 : lineNumber,
        "not a registry file (no REGEDIT4 or Windows Registry Editor Version 5.00 line)"};
  }
  return steps;
}

void DeleteTree(Transaction& tx, KeyId key) {
  for (const auto& child : tx.Children(key)) DeleteTree(tx, child.id);
  tx.DeleteKey(key);
}

std::optional<KeyId> FindPath(Transaction& tx, const KeyPath& path) {
  KeyId key = path.root;
  for (const auto& name : path.names) {
    auto child = tx.FindChild(key, name);
    if (!child) return std::nullopt;
    key = *child;
  }
  return key;
}

LONG Apply(Transaction& tx, const std::vector<Step>& steps) {
  KeyId current = 0;
  for (const auto& step : steps) {
    if (auto* section = std::get_if<OpenSection>(&step)) {
      current = section->path.root;
      for (const auto& name : section->path.names) {
        auto child = tx.FindChild(current, name);
        current = child ? *child : tx.AddChild(current, name);
      }
    } else if (auto* doomed = std::get_if<DeleteKeyTree>(&step)) {
      if (auto key = FindPath(tx, doomed->path)) DeleteTree(tx, *key);
    } else if (auto* set = std::get_if<SetValue>(&step)) {
      tx.SetValue(current, set->name, set->type, set->data.data(), set->data.size());
    } else if (auto* gone = std::get_if<DeleteValue>(&step)) {
      tx.DeleteValue(current, gone->name);
    }
  }
  return ERROR_SUCCESS;
}

// Export.

std::string Quote(std::string_view text) {
  std::string out = "\"";
  for (char c : text) {
    if (c == '\\' || c == '"') out += '\\';
    out += c;
  }
  out += '"';
  return out;
}

// A string survives the quoted form only if it is one line of text ending in its zero.
bool FitsQuotedString(const std::vector<BYTE>& data) {
  if (data.empty() || data.back() != 0) return false;
  for (std::size_t i = 0; i + 1 < data.size(); ++i) {
    if (data[i] == 0 || data[i] == '\n' || data[i] == '\r') return false;
  }
  return true;
}

void WriteHex(std::string& out, std::string prefix, const std::vector<BYTE>& data) {
  static const char digits[] = "0123456789abcdef";
  std::string line = std::move(prefix);
  for (std::size_t i = 0; i < data.size(); ++i) {
    line += digits[data[i] >> 4];
    line += digits[data[i] & 15];
    if (i + 1 < data.size()) {
      line += ',';
      if (line.size() >= kHexLineWidth) {
        out += line + "\\\r\n";
        line = "  ";
      }
    }
  }
  out += line + "\r\n";
}

void WriteValue(std::string& out, const registry::Value& value, bool unicode) {
  std::string prefix = (value.name.empty() ? std::string("@") : Quote(value.name)) + "=";
  if (value.type == REG_SZ && FitsQuotedString(value.data)) {
    out += prefix +
           Quote(std::string_view(reinterpret_cast<const char*>(value.data.data()),
                                  value.data.size() - 1)) +
           "\r\n";
  } else if (value.type == REG_DWORD && value.data.size() == 4) {
    char text[16];
    DWORD number = value.data[0] | (value.data[1] << 8) | (value.data[2] << 16) |
                   (static_cast<DWORD>(value.data[3]) << 24);
    std::snprintf(text, sizeof text, "dword:%08x", number);
    out += prefix + text + "\r\n";
  } else if (value.type == REG_BINARY) {
    WriteHex(out, prefix + "hex:", value.data);
  } else {
    char type[24];
    std::snprintf(type, sizeof type, "hex(%x):", value.type);
    if (unicode && IsStringType(value.type)) {
      const std::string wide = Utf8ToUtf16Le(
          std::string_view(reinterpret_cast<const char*>(value.data.data()), value.data.size()));
      WriteHex(out, prefix + type, std::vector<BYTE>(wide.begin(), wide.end()));
    } else {
      WriteHex(out, prefix + type, value.data);
    }
  }
}

void WriteKey(std::string& out, Transaction& tx, KeyId key, const std::string& fullName,
              bool unicode) {
  out += "[" + fullName + "]\r\n";
  for (const auto& value : tx.Values(key)) WriteValue(out, value, unicode);
  out += "\r\n";
  for (const auto& child : tx.Children(key))
    WriteKey(out, tx, child.id, fullName + "\\" + child.name, unicode);
}

}  // namespace

LONG RegImportFile(const std::string& path, std::string* error) {
  std::ifstream file(path, std::ios::binary);
  if (!file) {
    if (error) *error = "cannot open " + path;
    int err = errno;
    return static_cast<LONG>(ErrorFromErrno(err ? err : ENOENT));
  }
  std::stringstream whole;
  whole << file.rdbuf();
  if (file.bad()) {
    if (error) *error = "cannot read " + path;
    return ERROR_READ_FAULT;
  }
  std::string text = whole.str();
  // UTF-16 with its byte-order mark becomes the UTF-8 text the parser reads.
  const bool little = text.size() >= 2 && text[0] == '\xFF' && text[1] == '\xFE';
  const bool big = text.size() >= 2 && text[0] == '\xFE' && text[1] == '\xFF';
  if (little || big) {
    std::string reason;
    auto converted = Utf16ToUtf8(std::string_view(text).substr(2), big, reason);
    if (!converted) {
      if (error) *error = path + ": " + reason;
      return ERROR_INVALID_DATA;
    }
    text = std::move(*converted);
  }
  std::istringstream in(text);
  auto parsed = Parse(in);
  if (auto* failure = std::get_if<ParseError>(&parsed)) {
    if (error) *error = path + ": line " + std::to_string(failure->line) + ": " + failure->reason;
    return ERROR_INVALID_DATA;
  }
  const auto& steps = std::get<std::vector<Step>>(parsed);
  LONG result = registry::Run(true, [&](Transaction& tx) { return Apply(tx, steps); });
  // The store's error number says it all (a full disk, a read-only file system): the
  // caller names it.
  return result;
}

LONG RegExportFile(const std::string& path, const std::string& keyName, bool unicode) {
  // Text over the database would leave every later command without its registry.
  if (IsRegistryStoreFile(path)) return ERROR_ACCESS_DENIED;
  std::string text;
  if (const LONG result = RegExportText(text, keyName, unicode); result != ERROR_SUCCESS)
    return result;
  return static_cast<LONG>(WriteOutputFile(path, text));
}

LONG RegExportText(std::string& out, const std::string& keyName, bool unicode) {
  std::string text = std::string(unicode ? kUnicodeHeader : kHeader) + "\r\n\r\n";
  LONG result = registry::Run(false, [&](Transaction& tx) {
    if (keyName.empty()) {
      for (const auto& root : kRoots) WriteKey(text, tx, root.id, std::string(root.name), unicode);
      return static_cast<LONG>(ERROR_SUCCESS);
    }
    std::string reason;
    auto keyPath = ParseKeyPath(keyName, reason);
    if (!keyPath) return static_cast<LONG>(ERROR_INVALID_PARAMETER);
    auto key = FindPath(tx, *keyPath);
    if (!key) return static_cast<LONG>(ERROR_FILE_NOT_FOUND);
    // The key's own name as stored, not as the caller spelled it.
    std::string fullName;
    for (const auto& root : kRoots) {
      if (root.id == keyPath->root) fullName = root.name;
    }
    KeyId walk = keyPath->root;
    for (const auto& name : keyPath->names) {
      for (const auto& child : tx.Children(walk)) {
        if (registry::Fold(child.name) == registry::Fold(name)) {
          fullName += "\\" + child.name;
          walk = child.id;
          break;
        }
      }
    }
    WriteKey(text, tx, *key, fullName, unicode);
    return static_cast<LONG>(ERROR_SUCCESS);
  });
  if (result != ERROR_SUCCESS) return result;
  if (unicode) text = "\xFF\xFE" + Utf8ToUtf16Le(text);
  out = std::move(text);
  return ERROR_SUCCESS;
}

}  // namespace platform
