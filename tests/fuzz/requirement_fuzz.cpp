// PEP 508 requirements and environment markers. A requirement that parses is written back in a
// plain form that must parse to the same parts; a marker's canonical text is a fixed point; the
// only error is InvalidRequirement (anything else escapes and counts as a crash).
#include <string>

#include "fuzz_support.hpp"
#include "tessel_installer/utils/pkgkit/pkgkit.hpp"
#include "tessel_installer/utils/pkgkit/requirement.hpp"

namespace pkgkit = tessel_installer::pkgkit;

namespace {

std::string written(const pkgkit::Requirement& r) {
    std::string text = r.name;
    if (!r.extras.empty()) {
        text += '[';
        for (std::size_t i = 0; i < r.extras.size(); ++i) text += (i ? "," : "") + r.extras[i];
        text += ']';
    }
    if (r.url) {
        text += " @ " + *r.url;
    } else {
        for (std::size_t i = 0; i < r.specifiers.size(); ++i) {
            text += (i ? "," : "") + r.specifiers[i].to_string();
        }
    }
    if (r.marker) text += " ; " + r.marker->to_string();
    return text;
}

std::string marker_text(const pkgkit::Requirement& r) {
    return r.marker ? r.marker->to_string() : std::string("<none>");
}

void check_marker_round_trip(const pkgkit::Marker& marker) {
    const std::string canonical = marker.to_string();
    try {
        FUZZ_CHECK(pkgkit::parse_marker(canonical).to_string() == canonical);
    } catch (const pkgkit::InvalidRequirement&) {
        FUZZ_FAIL("a marker's canonical text must parse");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text = tessel_fuzz::as_text(data, size);
    try {
        const pkgkit::Requirement r = pkgkit::parse_requirement(text);
        FUZZ_CHECK(!r.name.empty());
        FUZZ_CHECK(pkgkit::get_requirement_name(text) == r.name);
        FUZZ_CHECK(!(r.url && !r.specifiers.empty()));
        if (r.marker) check_marker_round_trip(*r.marker);

        const std::string again_text = written(r);
        pkgkit::Requirement again;
        try {
            again = pkgkit::parse_requirement(again_text);
        } catch (const pkgkit::InvalidRequirement&) {
            FUZZ_FAIL("a requirement written back from its parts must parse");
        }
        FUZZ_CHECK(again.name == r.name);
        FUZZ_CHECK(again.extras == r.extras);
        FUZZ_CHECK(again.url == r.url);
        FUZZ_CHECK(again.specifiers.size() == r.specifiers.size());
        for (std::size_t i = 0; i < r.specifiers.size() && i < again.specifiers.size(); ++i) {
            FUZZ_CHECK(again.specifiers[i].to_string() == r.specifiers[i].to_string());
        }
        FUZZ_CHECK(marker_text(again) == marker_text(r));
    } catch (const pkgkit::InvalidRequirement&) {
    }

    try {
        check_marker_round_trip(pkgkit::parse_marker(text));
    } catch (const pkgkit::InvalidRequirement&) {
    }
    return 0;
}
