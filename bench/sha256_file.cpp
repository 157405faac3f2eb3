// The program's SHA-256 of one file, printed the way sha256sum prints it, so the two can be timed
// side by side on the same file.
#include <cstdio>
#include <exception>

#include "tessel_installer/platform/digest.hpp"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: sha256_file FILE\n");
        return 2;
    }
    try {
        const auto digest = tessel_installer::platform::sha256_file(argv[1]);
        std::printf("%s  %s\n", digest.sha256.c_str(), argv[1]);
        return 0;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "sha256_file: error: %s\n", e.what());
        return 1;
    }
}
