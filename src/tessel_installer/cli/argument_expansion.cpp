#include "tessel_installer/cli/argument_expansion.hpp"
#include "tessel_installer/terminal_text.hpp"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <optional>
#include <string_view>

namespace tessel_installer::frontdoor {

namespace {

enum class Arity { flag, one, many };

Arity arity_of(const CLI::Option& option) {
    const int most = option.get_items_expected_max();
    if (most <= 0) return Arity::flag;
    return most == 1 ? Arity::one : Arity::many;
}

// "-" alone is a value (conventionally standard input); anything else with a leading dash is an
// option, declared or not, and never someone's value.
bool looks_like_option(const std::string& argument) {
    return argument.size() > 1 && argument.front() == '-';
}

const CLI::App* find_action(const CLI::App& top, const std::string& name) {
    for (const CLI::App* action : actions_of(top)) {
        if (action->get_name() == name) return action;
    }
    return nullptr;
}

// The option of `parser` that `name` (a long name without dashes) means: the exact name first,
// then the one declared long name it is a prefix of.
struct LongMatch {
    const CLI::Option* option = nullptr;
    std::vector<std::string> candidates;  // every long name it is a prefix of, with dashes
};

// The options for scripts and CI are taken by their full names only: an abbreviation that
// meant one option before they came ("--d" for --debug) keeps its meaning.
bool full_name_only(const std::string& long_name) {
    return long_name == "report" || long_name == "log" || long_name == "dry-run" ||
           long_name == "no-progress";
}

LongMatch match_long(const CLI::App& parser, const std::string& name) {
    LongMatch match;
    if (name.empty()) return match;
    const CLI::Option* prefix_of = nullptr;
    for (const CLI::Option* option : parser.get_options()) {
        for (const std::string& long_name : option->get_lnames()) {
            if (long_name == name) {
                match.option = option;
                match.candidates = {"--" + long_name};
                return match;
            }
            if (long_name.starts_with(name) && !full_name_only(long_name)) {
                prefix_of = option;
                match.candidates.push_back("--" + long_name);
            }
        }
    }
    if (match.candidates.size() == 1) match.option = prefix_of;
    return match;
}

const CLI::Option* match_short(const CLI::App& parser, char letter) {
    for (const CLI::Option* option : parser.get_options()) {
        for (const std::string& short_name : option->get_snames()) {
            if (short_name.size() == 1 && short_name.front() == letter) return option;
        }
    }
    return nullptr;
}

std::string canonical_name(const CLI::Option& option) { return "--" + option.get_lnames().front(); }

class Expander {
public:
    Expander(const CLI::App& top, const std::vector<std::string>& arguments)
        : top_(top), arguments_(arguments), scope_(&top) {}

    ExpansionOutcome run() {
        while (next_ < arguments_.size()) {
            const std::size_t at = next_++;
            const std::string& argument = arguments_[at];
            std::optional<ExpansionOutcome> stop;
            if (positional_only_) {
                stop = positional(argument, at);
            } else if (argument == "--") {
                positional_only_ = true;
            } else if (argument.starts_with("--")) {
                stop = long_option(argument, at);
            } else if (looks_like_option(argument)) {
                stop = short_options(argument, at);
            } else {
                stop = positional(argument, at);
            }
            if (stop) return std::move(*stop);
        }
        return std::move(tokens_);
    }

private:
    bool is_help(const CLI::Option* option) const {
        return option != nullptr && option == scope_->get_help_ptr();
    }

    // A usage error, unless the same parser was also asked for its help somewhere after the point
    // where reading stopped: someone adding --help to a line that fails wants to see the help.
    ExpansionOutcome fail(std::size_t from, std::string message) const {
        for (std::size_t k = from; k < arguments_.size(); ++k) {
            const std::string& argument = arguments_[k];
            if (argument == "--" || positional_only_) break;
            if (scope_ == &top_ && find_action(top_, argument) != nullptr) break;
            if (argument == "-h" || argument == "--help") return HelpRequest{scope_};
        }
        return UsageError{scope_, std::move(message)};
    }

    std::optional<ExpansionOutcome> positional(const std::string& argument, std::size_t at) {
        if (scope_ != &top_) return fail(at, "unexpected argument '" + argument + "'");
        const CLI::App* action = find_action(top_, argument);
        if (action == nullptr) {
            std::vector<std::string> names;
            for (const CLI::App* known : actions_of(top_)) names.push_back(known->get_name());
            return fail(at, "invalid action '" + argument + "' (choose from " +
                                text::join(names, ", ") + ")");
        }
        scope_ = action;
        tokens_.push_back(argument);
        return std::nullopt;
    }

    // The message for an option the current parser does not declare. At the top level an
    // option that an action declares was merely put too early.
    std::string unknown_option(const std::string& written, const std::string& long_name) const {
        if (scope_ == &top_) {
            for (const CLI::App* action : actions_of(top_)) {
                const bool declared = long_name.empty()
                                          ? match_short(*action, written.back()) != nullptr
                                          : match_long(*action, long_name).option != nullptr;
                if (declared) {
                    return "option '" + written + "' must follow the action it belongs to";
                }
            }
        }
        if (scope_ == &top_) return "unrecognised option '" + written + "'";
        return "unrecognised option '" + written + "' for '" + scope_->get_name() + "'";
    }

    std::optional<ExpansionOutcome> long_option(const std::string& argument, std::size_t at) {
        const std::size_t equals = argument.find('=');
        const std::string written = argument.substr(0, equals);
        const std::string name = written.substr(2);
        std::optional<std::string> joined;
        if (equals != std::string::npos) joined = argument.substr(equals + 1);

        const LongMatch match = match_long(*scope_, name);
        if (match.option == nullptr) {
            if (match.candidates.size() > 1) {
                return fail(at, "ambiguous option '" + written + "' (could be " +
                                    text::join(match.candidates, ", ") + ")");
            }
            return fail(at, unknown_option(written, name));
        }
        return take(*match.option, canonical_name(*match.option), joined, at);
    }

    // "-uv 1.2.3", "-v1.2.3", "-v=1.2.3": flags may be grouped, and a value option ends the group,
    // taking the rest of the argument as its value when there is a rest.
    std::optional<ExpansionOutcome> short_options(const std::string& argument, std::size_t at) {
        for (std::size_t k = 1; k < argument.size(); ++k) {
            const std::string written = std::string("-") + argument[k];
            const CLI::Option* option = match_short(*scope_, argument[k]);
            if (option == nullptr) return fail(at, unknown_option(written, ""));
            if (arity_of(*option) == Arity::flag) {
                std::optional<std::string> joined;
                if (k + 1 < argument.size() && argument[k + 1] == '=') joined = argument.substr(k + 2);
                if (auto stop = take(*option, written, joined, at)) return stop;
                continue;
            }
            std::optional<std::string> joined;
            if (k + 1 < argument.size()) {
                std::string rest = argument.substr(k + 1);
                joined = rest.front() == '=' ? rest.substr(1) : rest;
            }
            return take(*option, written, joined, at);
        }
        return std::nullopt;
    }

    // Emits one occurrence of `option`, reading its values from `joined` or from the arguments
    // that follow.
    std::optional<ExpansionOutcome> take(const CLI::Option& option, const std::string& written,
                                         const std::optional<std::string>& joined, std::size_t at) {
        if (is_help(&option)) return ExpansionOutcome{HelpRequest{scope_}};
        const std::string name = canonical_name(option);
        switch (arity_of(option)) {
            case Arity::flag:
                if (joined) return fail(at, "option '" + written + "' takes no value");
                tokens_.push_back(name);
                return std::nullopt;
            case Arity::one: {
                std::string value;
                if (joined) {
                    value = *joined;
                } else if (next_ < arguments_.size() && !looks_like_option(arguments_[next_])) {
                    value = arguments_[next_++];
                } else {
                    return fail(at, "option '" + written + "' expects a value");
                }
                tokens_.push_back(name);
                tokens_.push_back(std::move(value));
                return std::nullopt;
            }
            case Arity::many: {
                std::vector<std::string> values;
                if (joined) {
                    values.push_back(*joined);
                } else {
                    while (next_ < arguments_.size() && !looks_like_option(arguments_[next_])) {
                        values.push_back(arguments_[next_++]);
                    }
                }
                if (values.empty()) return fail(at, "option '" + written + "' expects at least one value");
                drop_earlier(name);
                // One "--name VALUE" pair per value: CLI11 then takes each argument whole, where
                // a run of values after one name would be open to its list reading of "[a,b]".
                many_groups_.push_back({name, {tokens_.size(), 2 * values.size()}});
                for (std::string& value : values) {
                    tokens_.push_back(name);
                    tokens_.push_back(std::move(value));
                }
                return std::nullopt;
            }
        }
        return std::nullopt;
    }

    // A list option given again replaces its earlier list, as a single-value option given again
    // replaces its earlier value.
    void drop_earlier(const std::string& name) {
        auto& groups = many_groups_;
        auto found = std::find_if(groups.begin(), groups.end(),
                                  [&](const auto& group) { return group.first == name; });
        if (found != groups.end()) {
            const std::size_t start = found->second.first;
            const std::size_t length = found->second.second;
            tokens_.erase(tokens_.begin() + static_cast<std::ptrdiff_t>(start),
                          tokens_.begin() + static_cast<std::ptrdiff_t>(start + length));
            for (auto& group : groups) {
                if (group.second.first > start) group.second.first -= length;
            }
            groups.erase(found);
        }
    }

    const CLI::App& top_;
    const std::vector<std::string>& arguments_;
    const CLI::App* scope_;
    std::size_t next_ = 0;
    bool positional_only_ = false;
    std::vector<std::string> tokens_;
    // Where each list option's occurrence sits in tokens_: name, first token, token count.
    std::vector<std::pair<std::string, std::pair<std::size_t, std::size_t>>> many_groups_;
};

}  // namespace

std::vector<const CLI::App*> actions_of(const CLI::App& parser) {
    return parser.get_subcommands([](const CLI::App*) { return true; });
}

ExpansionOutcome expand_arguments(const CLI::App& top, const std::vector<std::string>& arguments) {
    return Expander(top, arguments).run();
}

}  // namespace tessel_installer::frontdoor
