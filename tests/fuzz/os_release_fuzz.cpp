// The distribution name from the text of the release files. A name found is one non-empty line's
// value; lines before it cannot change it, a later PRETTY_NAME line cannot replace it, and one is
// taken when nothing earlier named the distribution.
#include <string>

#include "fuzz_support.hpp"
#include "tessel_installer/utils/hostcheck/hostcheck.hpp"

namespace hostcheck = tessel_installer::hostcheck;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(tessel_fuzz::as_text(data, size));
    const std::optional<std::string> name = hostcheck::_find_pretty_name(text);
    if (name) {
        FUZZ_CHECK(!name->empty());
        FUZZ_CHECK(name->find('\n') == std::string::npos);
        FUZZ_CHECK(text.find("PRETTY_NAME=") != std::string::npos);
    }
    FUZZ_CHECK(hostcheck::_find_pretty_name("ID=debian\n" + text) == name);
    const std::optional<std::string> with_later =
        hostcheck::_find_pretty_name(text + "\nPRETTY_NAME=\"Later \\\"Linux\\\"\"");
    FUZZ_CHECK(with_later == (name ? *name : std::string("Later \"Linux\"")));

    const std::string major = hostcheck::_major_component(text);
    FUZZ_CHECK(text.starts_with(major) && major.find('.') == std::string::npos);
    return 0;
}
