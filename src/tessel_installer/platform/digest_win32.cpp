// SHA-256 through BCrypt, Windows' own cryptography (bcrypt.dll).
#include <windows.h>
#include <bcrypt.h>

#include <vector>

#include "tessel_installer/errors.hpp"
#include "tessel_installer/platform/digest.hpp"

namespace tessel_installer::platform {

namespace {

constexpr std::size_t DIGEST_SIZE = 32;

void _check(NTSTATUS status, const char* what) {
    if (!BCRYPT_SUCCESS(status)) {
        throw RuntimeError(std::string("SHA-256 failed in BCrypt (") + what + ")");
    }
}

}  // namespace

struct Sha256::State {
    BCRYPT_ALG_HANDLE algorithm = nullptr;
    BCRYPT_HASH_HANDLE hash = nullptr;
    ~State() {
        if (hash != nullptr) BCryptDestroyHash(hash);
        if (algorithm != nullptr) BCryptCloseAlgorithmProvider(algorithm, 0);
    }
};

Sha256::Sha256() : state_(std::make_unique<State>()) {
    _check(BCryptOpenAlgorithmProvider(&state_->algorithm, BCRYPT_SHA256_ALGORITHM, nullptr, 0),
           "open");
    // With no buffer of ours, BCrypt keeps the hash object itself (Windows 7 and later).
    _check(BCryptCreateHash(state_->algorithm, &state_->hash, nullptr, 0, nullptr, 0, 0),
           "create");
}

Sha256::~Sha256() = default;

void Sha256::update(const void* data, std::size_t size) {
    auto* bytes = static_cast<unsigned char*>(const_cast<void*>(data));
    // BCryptHashData takes a 32-bit length: larger spans go in pieces.
    while (size != 0) {
        const ULONG piece = size > 0x40000000 ? 0x40000000 : static_cast<ULONG>(size);
        _check(BCryptHashData(state_->hash, bytes, piece, 0), "data");
        bytes += piece;
        size -= piece;
    }
}

std::string Sha256::finish() {
    unsigned char digest[DIGEST_SIZE];
    _check(BCryptFinishHash(state_->hash, digest, DIGEST_SIZE, 0), "finish");
    return std::string(reinterpret_cast<const char*>(digest), DIGEST_SIZE);
}

}  // namespace tessel_installer::platform
