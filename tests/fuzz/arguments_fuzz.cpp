// The command line, as arguments separated by NUL (no argument can hold one). Nothing escapes as
// an exception; a line the expansion step accepts is never refused by CLI11 except for the
// required folder; and every value in the record was typed by the user, as a whole argument or
// as the end of one ("--name=VALUE", "-vVALUE").
#include <string>
#include <variant>
#include <vector>

#include "fuzz_support.hpp"
#include "tessel_installer/cli/argument_expansion.hpp"
#include "tessel_installer/cli/frontdoor.hpp"

namespace frontdoor = tessel_installer::frontdoor;

namespace {

void check_typed(const std::vector<std::string>& arguments, const std::string& value) {
    for (const std::string& argument : arguments) {
        if (argument.ends_with(value)) return;
    }
    FUZZ_FAIL("a value in the record that no argument ends with");
}

void check_typed(const std::vector<std::string>& arguments, const frontdoor::OptionalText& value) {
    if (value) check_typed(arguments, *value);
}

void check_typed(const std::vector<std::string>& arguments, const frontdoor::OptionalList& values) {
    if (!values) return;
    FUZZ_CHECK(!values->empty());
    for (const std::string& value : *values) check_typed(arguments, value);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::vector<std::string> arguments;
    if (size > 0) {
        for (const std::string_view piece : tessel_fuzz::split(tessel_fuzz::as_text(data, size), '\0', 32)) {
            arguments.emplace_back(piece);
        }
    }
    auto parser = frontdoor::get_parser();
    const bool expanded = std::holds_alternative<std::vector<std::string>>(
        frontdoor::expand_arguments(parser->app(), arguments));
    const frontdoor::ParseOutcome outcome = frontdoor::parse_arguments(*parser, arguments);

    if (const auto* error = std::get_if<frontdoor::UsageError>(&outcome)) {
        FUZZ_CHECK(error->parser != nullptr && !error->message.empty());
        if (expanded) FUZZ_CHECK(error->message.starts_with("the following options are required"));
        FUZZ_CHECK(!frontdoor::usage_line(*error->parser).empty());
        return 0;
    }
    if (const auto* help = std::get_if<frontdoor::HelpRequest>(&outcome)) {
        FUZZ_CHECK(!expanded);
        FUZZ_CHECK(!frontdoor::help_text(*help->parser).empty());
        return 0;
    }
    FUZZ_CHECK(expanded);
    const frontdoor::Args& args = std::get<frontdoor::Args>(outcome);
    check_typed(arguments, args.package);
    check_typed(arguments, args.options);
    check_typed(arguments, args.folder);
    check_typed(arguments, args.version);
    check_typed(arguments, args.python_version);
    check_typed(arguments, args.platform);
    return 0;
}
