// The whole check that `install --folder` makes of a folder with a manifest before any child:
// the manifest read, every listed file sized and hashed, the folder listed for unlisted files.
#include <cstdio>
#include <exception>

#include "tessel_installer/installation/bundle_manifest.hpp"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: bundle_check FOLDER\n");
        return 2;
    }
    try {
        const auto manifest = tessel_installer::installer::check_bundle_folder(argv[1]);
        if (!manifest) {
            std::fprintf(stderr, "bundle_check: the folder has no manifest\n");
            return 1;
        }
        std::printf("%zu files verified\n", manifest->files.size());
        return 0;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "bundle_check: error: %s\n", e.what());
        return 1;
    }
}
