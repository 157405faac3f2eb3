// The file reading and hex rendering around the platform's SHA-256.
#include "tessel_installer/platform/digest.hpp"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <vector>

#include "tessel_installer/errors.hpp"

namespace tessel_installer::platform {

namespace {

constexpr std::size_t BLOCK = 1024 * 1024;

std::string _hex(std::string_view bytes) {
    static constexpr char DIGITS[] = "0123456789abcdef";
    std::string hex;
    hex.reserve(bytes.size() * 2);
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        hex += DIGITS[byte >> 4];
        hex += DIGITS[byte & 0x0f];
    }
    return hex;
}

}  // namespace

std::string sha256_hex(std::string_view bytes) {
    Sha256 hash;
    hash.update(bytes.data(), bytes.size());
    return _hex(hash.finish());
}

FileDigest sha256_file(const std::filesystem::path& path) {
    std::ifstream in;
    // Unbuffered: each block goes from the file straight into our buffer.
    in.rdbuf()->pubsetbuf(nullptr, 0);
    errno = 0;
    in.open(path, std::ios::binary);
    if (!in) {
        const int cause = errno;
        const std::string message = cause != 0 ? std::strerror(cause) : "cannot be opened";
        if (cause == ENOENT) throw FileNotFoundError(message);
        if (cause == EACCES) throw PermissionError(message);
        throw OSError(message);
    }
    Sha256 hash;
    FileDigest digest;
    std::vector<char> block(BLOCK);
    while (in) {
        in.read(block.data(), static_cast<std::streamsize>(block.size()));
        const auto got = static_cast<std::size_t>(in.gcount());
        hash.update(block.data(), got);
        digest.size += got;
    }
    if (in.bad()) throw OSError("read error");
    digest.sha256 = _hex(hash.finish());
    return digest;
}

}  // namespace tessel_installer::platform
