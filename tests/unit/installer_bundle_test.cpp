// The folder's manifest as text: what is written reads back the same, and each kind of broken
// manifest is refused with what is wrong. (The check of real folders runs end to end.)
#include "tessel_installer/installation/bundle_manifest.hpp"

#include <gtest/gtest.h>

#include <string>

#include "tessel_installer/errors.hpp"

using namespace tessel_installer::installer;

namespace {

const std::string HASH(64, 'a');

std::string with_files(const std::string& files) {
    return R"({"schema": 1, "packages": {"bundle-alder": "bundle"}, "files": [)" + files + "]}";
}

std::string file_entry(const std::string& name, const std::string& size = "3",
                       const std::string& hash = "\"" + std::string(64, 'a') + "\"") {
    return R"({"name": )" + name + R"(, "size": )" + size + R"(, "sha256": )" + hash + "}";
}

}  // namespace

TEST(BundleManifest, WrittenThenReadBack) {
    BundleManifest manifest;
    manifest.program_version = "0.1.0";
    manifest.created_utc = "2025-03-04T09:15:00Z";
    manifest.request.package = "bundle-birch";
    manifest.request.options = {"postgres"};
    manifest.request.python_version = "311";
    manifest.request.platform = {"win_amd64", "any"};
    manifest.packages.set("bundle-birch[postgres]", "bundle");
    manifest.files = {{"a-1.0-py3-none-any.whl", 10, HASH}, {"b-2.0.tar.gz", 0, HASH}};
    const BundleManifest read = _parse_bundle_manifest(_render_bundle_manifest(manifest));
    EXPECT_EQ(_render_bundle_manifest(read), _render_bundle_manifest(manifest));
    EXPECT_EQ(read.request.platform, manifest.request.platform);
    EXPECT_EQ(read.files.size(), 2u);
}

TEST(BundleManifest, BrokenManifestsAreRefusedSayingWhy) {
    struct Row {
        std::string text;
        std::string problem;
    };
    const Row rows[] = {
        {"", "not JSON"},
        {"[1]", "not a JSON object"},
        {R"({"files": []})", "it names no schema"},
        {R"({"schema": "1", "packages": {}, "files": []})", "schema '\"1\"' is unknown"},
        {R"({"schema": 2, "packages": {}, "files": []})", "schema '2' is unknown to this version"},
        {R"({"schema": 1, "files": []})", "no \"packages\" object"},
        {R"({"schema": 1, "packages": {"a": 1}, "files": []})", "the kind of 'a' is no text"},
        {R"({"schema": 1, "packages": {}})", "no \"files\" list"},
        {with_files(R"({"size": 1})"), "a file entry without a name"},
        {with_files(file_entry(R"("sub/a.whl")")), "'sub/a.whl' is not a bare file name"},
        {with_files(file_entry(R"("sub\\a.whl")")), "is not a bare file name"},
        {with_files(file_entry(R"("..")")), "'..' is not a bare file name"},
        {with_files(file_entry(R"("a.whl")") + "," + file_entry(R"("a.whl")")),
         "'a.whl' is listed twice"},
        {with_files(file_entry(R"("a.whl")", "-3")), "the size of 'a.whl' is not a count"},
        {with_files(file_entry(R"("a.whl")", "3", "\"" + std::string(64, 'A') + "\"")),
         "the SHA-256 of 'a.whl' is not 64 lower-case hex digits"},
    };
    for (const auto& row : rows) {
        try {
            _parse_bundle_manifest(row.text);
            ADD_FAILURE() << "accepted: " << row.text;
        } catch (const tessel_installer::ValueError& error) {
            EXPECT_NE(std::string(error.what()).find(row.problem), std::string::npos)
                << row.text << " -> " << error.what();
        }
    }
}

TEST(BundleManifest, DistributionFileNames) {
    for (const char* name : {"a-1.0-py3-none-any.whl", "a-1.0.tar.gz", "a-1.0.zip", ".a-1.tar.bz2"}) {
        EXPECT_TRUE(_is_distribution_file_name(name)) << name;
    }
    for (const char* name : {"tessel-bundle.json", ".whl", "notes.txt", "a.whl.part"}) {
        EXPECT_FALSE(_is_distribution_file_name(name)) << name;
    }
}
