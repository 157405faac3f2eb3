// SHA-256, from the platform's own cryptography: libcrypto's EVP interface on Linux and macOS
// (digest_openssl.cpp), BCrypt on Windows (digest_win32.cpp). digest.cpp reads files through it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>

namespace tessel_installer::platform {

// An incremental SHA-256. A failure of the library is a RuntimeError.
class Sha256 {
public:
    Sha256();
    ~Sha256();
    Sha256(const Sha256&) = delete;
    Sha256& operator=(const Sha256&) = delete;

    void update(const void* data, std::size_t size);
    // The 32 bytes of the digest; the object is spent afterwards.
    std::string finish();

private:
    struct State;
    std::unique_ptr<State> state_;
};

// The digest as 64 lower-case hexadecimal digits, the way sha256sum prints it.
std::string sha256_hex(std::string_view bytes);

struct FileDigest {
    std::uint64_t size = 0;  // the bytes read
    std::string sha256;      // lower-case hex
};

// Reads the file in 1 MiB blocks, so a file of any size costs its read time and no more memory.
// A file that cannot be opened or read is an OSError kind whose message is the cause alone: the
// caller names the file, rendered for the terminal by the layer that owns that rendering.
FileDigest sha256_file(const std::filesystem::path& path);

}  // namespace tessel_installer::platform
