// The text of the record of installed packages. It is refused exactly when it is not UTF-8;
// otherwise every name is a trimmed, non-empty part of one line, and the names written one per
// line (with either line end) read back as the same names.
#include <set>
#include <string>

#include "fuzz_support.hpp"
#include "tessel_installer/errors.hpp"
#include "tessel_installer/utils/ledgerfile/ledgerfile.hpp"
#include "tessel_installer/utils/pkgkit/unicode_text.hpp"

namespace ledgerfile = tessel_installer::ledgerfile;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text = tessel_fuzz::as_text(data, size);
    const std::filesystem::path file = "installed_packages.txt";
    std::set<std::string> names;
    try {
        names = ledgerfile::_parse_record_text(text, file);
    } catch (const tessel_installer::ValueError&) {
        FUZZ_CHECK(!tessel_fuzz::is_valid_utf8(text));
        return 0;
    }
    FUZZ_CHECK(tessel_fuzz::is_valid_utf8(text));

    std::string lf;
    std::string crlf;
    for (const std::string& name : names) {
        FUZZ_CHECK(!name.empty());
        FUZZ_CHECK(name.find_first_of("\r\n") == std::string::npos);
        FUZZ_CHECK(tessel_installer::pkgkit::text::trim_unicode_space(name) == name);
        FUZZ_CHECK(text.find(name) != std::string_view::npos);
        lf += name + "\n";
        crlf += name + "\r\n";
    }
    FUZZ_CHECK(ledgerfile::_parse_record_text(lf, file) == names);
    FUZZ_CHECK(ledgerfile::_parse_record_text(crlf, file) == names);
    return 0;
}
