// Bytes a test plays a flash monitor with: the reply frames the monitor sends, and the
// S-record lines of a file the PC streams to it. Header only, so that tests of the pure
// frame readers can use it without a scripted line.
#pragma once
#include <cstdio>
#include <string>
#include <vector>

#include "platform/winbase.h"

namespace kv70test {

// A reply frame as the monitor sends it: 02, command, length (2 bytes), data, 16-bit sum
// of command, length and data, 03.
inline std::vector<BYTE> MonitorFrame(BYTE command, const std::vector<BYTE>& data) {
  const size_t n = data.size();
  std::vector<BYTE> f(n + 7);
  f[0] = 0x02;
  f[1] = command;
  f[2] = static_cast<BYTE>(n >> 8);
  f[3] = static_cast<BYTE>(n);
  WORD sum = static_cast<WORD>(command + f[2] + f[3]);
  for (size_t i = 0; i < n; ++i) {
    sum = static_cast<WORD>(sum + data[i]);
    f[4 + i] = data[i];
  }
  f[n + 4] = static_cast<BYTE>(sum >> 8);
  f[n + 5] = static_cast<BYTE>(sum);
  f[n + 6] = 0x03;
  return f;
}

// One S-record line with CR LF; `type` 1, 2 or 3 gives a 2-, 3- or 4-byte address, any
// other type no address.
inline std::string SRecordText(int type, DWORD address, const std::vector<BYTE>& data,
                               bool badChecksum = false) {
  const int addressBytes = type == 1 ? 2 : type == 2 ? 3 : type == 3 ? 4 : 0;
  std::vector<BYTE> fields;
  fields.push_back(static_cast<BYTE>(addressBytes + data.size() + 1));
  for (int i = addressBytes - 1; i >= 0; --i)
    fields.push_back(static_cast<BYTE>(address >> (8 * i)));
  fields.insert(fields.end(), data.begin(), data.end());
  BYTE sum = 0;
  for (BYTE b : fields) sum = static_cast<BYTE>(sum + b);
  fields.push_back(static_cast<BYTE>(~sum + (badChecksum ? 1 : 0)));
  std::string line = "S" + std::to_string(type);
  char hex[3];
  for (BYTE b : fields) {
    std::snprintf(hex, sizeof hex, "%02X", b);
    line += hex;
  }
  return line + "\r\n";
}

// `n` bytes counting up from `first`.
inline std::vector<BYTE> Counting(size_t n, BYTE first) {
  std::vector<BYTE> b(n);
  for (size_t i = 0; i < n; ++i) b[i] = static_cast<BYTE>(first + i);
  return b;
}

}  // namespace kv70test
