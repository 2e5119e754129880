// SHA-256 through OpenSSL's libcrypto, which uses the processor's SHA instructions.
#include <openssl/evp.h>

#include <cstdlib>

#include "host/core/sha256.h"

namespace velmora {

struct Sha256::State {
  State() : context(EVP_MD_CTX_new()) { Start(); }
  ~State() { EVP_MD_CTX_free(context); }
  State(const State&) = delete;
  State& operator=(const State&) = delete;

  // libcrypto fails here only without memory; a fingerprint that silently went wrong
  // would be worse than stopping.
  void Start() {
    if (!context || EVP_DigestInit_ex(context, EVP_sha256(), nullptr) != 1) std::abort();
  }

  EVP_MD_CTX* context;
};

Sha256::Sha256() : state_(std::make_unique<State>()) {}
Sha256::~Sha256() = default;

void Sha256::Update(std::span<const std::uint8_t> bytes) {
  if (bytes.empty()) return;
  if (EVP_DigestUpdate(state_->context, bytes.data(), bytes.size()) != 1) std::abort();
}

Sha256::Digest Sha256::Final() {
  Digest digest;
  unsigned int length = 0;
  if (EVP_DigestFinal_ex(state_->context, digest.data(), &length) != 1 || length != digest.size())
    std::abort();
  state_->Start();
  return digest;
}

}  // namespace velmora
