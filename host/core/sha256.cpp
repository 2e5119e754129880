#include "host/core/sha256.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

namespace velmora {

std::string Sha256::Hex(const Digest& digest) {
  static const char kHex[] = "0123456789abcdef";
  std::string s;
  s.reserve(64);
  for (std::uint8_t b : digest) {
    s += kHex[b >> 4];
    s += kHex[b & 0x0F];
  }
  return s;
}

bool Sha256OfFile(const std::string& path, std::string& hex, std::uint64_t& size,
                  std::string& error) {
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (!file) {
    error = path + ": " + std::strerror(errno);
    return false;
  }
  Sha256 sha;
  std::vector<std::uint8_t> buffer(1 << 16);
  size = 0;
  for (;;) {
    const std::size_t n = std::fread(buffer.data(), 1, buffer.size(), file);
    if (n == 0) break;
    sha.Update({buffer.data(), n});
    size += n;
  }
  const bool failed = std::ferror(file) != 0;
  const int saved = errno;
  std::fclose(file);
  if (failed) {
    error = path + ": " + std::strerror(saved);
    return false;
  }
  hex = Sha256::Hex(sha.Final());
  return true;
}

}  // namespace velmora
