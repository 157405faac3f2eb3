// SHA-256 from the platform's library: the published vectors, and a file read in several blocks.
#include "tessel_installer/platform/digest.hpp"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "tessel_installer/errors.hpp"

namespace fs = std::filesystem;
namespace platform = tessel_installer::platform;

TEST(Digest, KnownVectors) {
    struct Row {
        std::string input;
        const char* sha256;
    };
    const Row rows[] = {
        {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
         "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
        {std::string(1000000, 'a'),
         "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(platform::sha256_hex(row.input), row.sha256) << row.input.size() << " bytes";
    }
}

TEST(Digest, FileOfSeveralBlocks) {
    // Two 1 MiB blocks and one byte more, so the last read is short.
    const fs::path path = fs::path(testing::TempDir()) / "digest-three-blocks.bin";
    {
        std::ofstream out(path, std::ios::binary);
        for (std::size_t i = 0; i < 2 * 1048576 + 1; ++i) out.put(static_cast<char>(i % 251));
    }
    const platform::FileDigest digest = platform::sha256_file(path);
    EXPECT_EQ(digest.size, 2u * 1048576 + 1);
    // As sha256sum prints it for the same bytes.
    EXPECT_EQ(digest.sha256, "72bcf8fa6c73c0a650f5c83f47e54290ba2fe60ac6cb0d8fe5b0a41dd57a0844");
    fs::remove(path);

    EXPECT_THROW(platform::sha256_file(path), tessel_installer::FileNotFoundError);
}
