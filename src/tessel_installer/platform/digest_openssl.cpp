// SHA-256 through libcrypto's EVP interface (Linux, macOS).
#include <openssl/evp.h>

#include "tessel_installer/errors.hpp"
#include "tessel_installer/platform/digest.hpp"

namespace tessel_installer::platform {

struct Sha256::State {
    EVP_MD_CTX* context = nullptr;
    ~State() { EVP_MD_CTX_free(context); }
};

Sha256::Sha256() : state_(std::make_unique<State>()) {
    state_->context = EVP_MD_CTX_new();
    if (state_->context == nullptr || EVP_DigestInit_ex(state_->context, EVP_sha256(), nullptr) != 1) {
        throw RuntimeError("SHA-256 is not available from libcrypto");
    }
}

Sha256::~Sha256() = default;

void Sha256::update(const void* data, std::size_t size) {
    if (size != 0 && EVP_DigestUpdate(state_->context, data, size) != 1) {
        throw RuntimeError("SHA-256 failed in libcrypto");
    }
}

std::string Sha256::finish() {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (EVP_DigestFinal_ex(state_->context, digest, &length) != 1) {
        throw RuntimeError("SHA-256 failed in libcrypto");
    }
    return std::string(reinterpret_cast<const char*>(digest), length);
}

}  // namespace tessel_installer::platform
