// SHA-256 (FIPS 180-4), for the fingerprints a service record keeps of the firmware file
// it loaded and the log file it wrote.
#pragma once
#include <array>
#include <cstdint>
#include <span>
#include <string>

namespace velmora {

class Sha256 {
 public:
  using Digest = std::array<std::uint8_t, 32>;

  Sha256();
  void Update(std::span<const std::uint8_t> bytes);
  void Update(const void* data, std::size_t size) {
    Update({static_cast<const std::uint8_t*>(data), size});
  }
  // The digest of everything given; the object then starts afresh.
  Digest Final();

  static std::string Hex(const Digest& digest);  // 64 lower-case hex digits

 private:
  void Block(const std::uint8_t* block);

  std::array<std::uint32_t, 8> state_;
  std::array<std::uint8_t, 64> buffer_{};
  std::size_t buffered_ = 0;
  std::uint64_t length_ = 0;
};

// The hex digest of a file's bytes and their number; false with `error` when it cannot
// be read.
bool Sha256OfFile(const std::string& path, std::string& hex, std::uint64_t& size,
                  std::string& error);

}  // namespace velmora
