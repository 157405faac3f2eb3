// The catalogue reply. Either a mapping or a problem, never both; every name in the mapping is a
// valid distribution name; and the mapping written back as a reply reads as the same mapping.
#include <nlohmann/json.hpp>
#include <string>

#include "fuzz_support.hpp"
#include "tessel_installer/installation/engine.hpp"

namespace installer = tessel_installer::installer;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const installer::CatalogueReading reading =
        installer::_parse_catalogue_reply(tessel_fuzz::as_text(data, size));
    FUZZ_CHECK(reading.packages.has_value() == reading.problem.empty());
    if (!reading.packages) return 0;

    nlohmann::json entries = nlohmann::json::array();
    for (const auto& [name, kind] : *reading.packages) {
        FUZZ_CHECK(installer::_is_valid_package_name(name));
        entries.push_back({{"package_name", name}, {"product_type", kind}});
    }
    const std::string written = nlohmann::json{{"packages", entries}}.dump();
    const installer::CatalogueReading again = installer::_parse_catalogue_reply(written);
    FUZZ_CHECK(again.packages.has_value());
    FUZZ_CHECK(*again.packages == *reading.packages);
    return 0;
}
