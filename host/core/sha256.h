// SHA-256 (FIPS 180-4), for the fingerprints a service record keeps of the firmware file
// it loaded and the log file it wrote. OpenSSL's libcrypto does the work where the build
// has it (the machine's SHA instructions: a 16 MiB log file in a few milliseconds, which
// the run's end waits for); the portable rounds serve where it does not (Windows).
#pragma once
#include <array>
#include <cstdint>
#include <memory>
#include <span>
#include <string>

namespace velmora {

class Sha256 {
 public:
  using Digest = std::array<std::uint8_t, 32>;

  Sha256();
  ~Sha256();
  Sha256(const Sha256&) = delete;
  Sha256& operator=(const Sha256&) = delete;
  void Update(std::span<const std::uint8_t> bytes);
  void Update(const void* data, std::size_t size) {
    Update({static_cast<const std::uint8_t*>(data), size});
  }
  // The digest of everything given; the object then starts afresh.
  Digest Final();

  static std::string Hex(const Digest& digest);  // 64 lower-case hex digits

 private:
  struct State;  // the backend's
  std::unique_ptr<State> state_;
};

// The hex digest of a file's bytes and their number; false with `error` when it cannot
// be read.
bool Sha256OfFile(const std::string& path, std::string& hex, std::uint64_t& size,
                  std::string& error);

}  // namespace velmora
