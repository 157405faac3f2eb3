#include "tessel_installer/cli/frontdoor.hpp"

#include <CLI/CLI.hpp>
#include <deque>
#include <functional>
#include <ostream>
#include <utility>

#include "tessel_installer/cli/argument_expansion.hpp"
#include "tessel_installer/cli/program_version.hpp"
#include "tessel_installer/errors.hpp"
#include "tessel_installer/terminal_text.hpp"

namespace tessel_installer::frontdoor {

// What the options write into while CLI11 parses, and for each option how its value reaches the
// Args record once parsing is over. "Not given" and "given" are told apart by the option's count.
struct Parser::Storage {
    CLI::App app{"Tessel Installer.", "tessel-installer"};
    // Deques: an option keeps a reference to its slot while later options are declared.
    std::deque<std::string> texts;
    std::deque<std::vector<std::string>> lists;
    std::deque<bool> flags;  // not packed like std::vector<bool>: each is a real bool
    std::vector<std::pair<const CLI::Option*, std::function<void(Args&)>>> fills;
    std::vector<std::pair<const CLI::App*, Handler>> handlers;
};

Parser::Parser() : storage_(std::make_unique<Storage>()) {}
Parser::~Parser() = default;
CLI::App& Parser::app() { return storage_->app; }
const CLI::App& Parser::app() const { return storage_->app; }
Parser::Storage& Parser::storage() { return *storage_; }

namespace {

constexpr const char* kProgram = "tessel-installer";

CLI::Option* bind(Parser::Storage& s, CLI::Option* option, std::function<void(Args&)> fill) {
    s.fills.emplace_back(option, std::move(fill));
    return option;
}

// A value option given twice keeps its last value.
CLI::Option* value_option(Parser::Storage& s, CLI::App& action, const std::string& names,
                          OptionalText Request::*field, const std::string& help) {
    std::string& into = s.texts.emplace_back();
    return bind(s,
                action.add_option(names, into, help)
                    ->multi_option_policy(CLI::MultiOptionPolicy::TakeLast),
                [&into, field](Args& args) { args.*field = into; });
}

// CLI11 reads a value written "[a,b]" as a list of its own, "[]" as no value at all, while an
// option allows extra arguments. Every argument is one value here, so the list options take none:
// the expansion step hands CLI11 each value of a list as an occurrence of its own.
CLI::Option* list_option(Parser::Storage& s, CLI::App& action, const std::string& names,
                         OptionalList Request::*field, const std::string& help) {
    std::vector<std::string>& into = s.lists.emplace_back();
    return bind(s,
                action.add_option(names, into, help)
                    ->expected(1, CLI::detail::expected_max_vector_size)
                    ->allow_extra_args(false),
                [&into, field](Args& args) { args.*field = into; });
}

// One value per occurrence, every occurrence kept in order.
CLI::Option* repeated_option(Parser::Storage& s, CLI::App& action, const std::string& names,
                             OptionalList Request::*field, const std::string& help) {
    std::vector<std::string>& into = s.lists.emplace_back();
    return bind(s,
                action.add_option(names, into, help)
                    ->expected(1)
                    ->allow_extra_args(false)
                    ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll),
                [&into, field](Args& args) { args.*field = into; });
}

CLI::Option* flag(Parser::Storage& s, CLI::App& action, const std::string& names,
                  bool Request::*field, const std::string& help) {
    bool& into = s.flags.emplace_back(false);
    return bind(s, action.add_flag(names, into, help),
                [&into, field](Args& args) { args.*field = into; });
}

// A file the run writes to: standard output carries the progress lines, so "-" is no name here.
const CLI::Validator FILE_NOT_STANDARD_OUTPUT(
    [](std::string& value) {
        if (value == "-") return std::string("standard output ('-') carries the progress lines; give a file");
        if (value.empty()) return std::string("a file name is needed");
        return std::string();
    },
    "FILE");

// The options every action that runs pip children has for scripts and CI logs.
void automation_options(Parser::Storage& s, CLI::App& action, bool dry_run) {
    value_option(s, action, "--report", &Request::report,
                 "Write a JSON report of the run to this file when it ends.")
        ->check(FILE_NOT_STANDARD_OUTPUT);
    value_option(s, action, "--log", &Request::log,
                 "Append each pip command line, its times, status and output to this file.")
        ->check(FILE_NOT_STANDARD_OUTPUT);
    if (dry_run) {
        flag(s, action, "--dry-run", &Request::dry_run,
             "Show what would be done without changing anything.");
    }
    flag(s, action, "--no-progress", &Request::no_progress,
         "Print each outcome once, without the progress animation.");
}

CLI::App& add_action(Parser::Storage& storage, const std::string& name, const std::string& help,
                     Handler handler) {
    CLI::App* action = storage.app.add_subcommand(name, help);
    action->group("action");
    storage.handlers.emplace_back(action, handler);
    return *action;
}

void declare(Parser::Storage& s) {
    s.app.set_help_flag("-h,--help", "Show this help message and exit.");
    s.app.require_subcommand(0, 1);

    CLI::App& install = add_action(s, "install", "Install your Tessel Enterprise Packages.",
                                   install_action);
    value_option(s, install, "--package", &Request::package, "The package that you want to install.");
    list_option(s, install, "--options", &Request::options, "Optional dependencies to install.");
    value_option(s, install, "--folder", &Request::folder, "Install from a local folder.");
    flag(s, install, "--debug", &Request::debug, "Print pip install commands.");
    value_option(s, install, "-v,--version", &Request::version,
                 "Tessel-Enterprise version (e.g., 0.23.0).");
    flag(s, install, "-u,--upgrade", &Request::upgrade, "Upgrade the current installed packages.");
    automation_options(s, install, true);

    CLI::App& uninstall = add_action(s, "uninstall", "Uninstall your Tessel Enterprise Packages.",
                                     uninstall_action);
    flag(s, uninstall, "--debug", &Request::debug, "Print pip install commands.");
    automation_options(s, uninstall, true);

    CLI::App& download = add_action(
        s, "download", "Download your Tessel Enterprise Packages for offline installation.",
        download_action);
    value_option(s, download, "--package", &Request::package,
                 "The package that you want to download. If not provided, all packages will be "
                 "downloaded");
    value_option(s, download, "--python-version", &Request::python_version,
                 "Python version (e.g., 39).");
    repeated_option(s, download, "--platform", &Request::platform,
                    "Platform tag(s) (e.g., macosx_14_0_arm64). You can specify this multiple "
                    "times.");
    value_option(s, download, "--folder", &Request::folder,
                 "Destination folder for downloaded packages.")
        ->required();
    flag(s, download, "--debug", &Request::debug, "Print pip download commands.");
    value_option(s, download, "--version", &Request::version,
                 "Tessel-Enterprise version (e.g., 0.23).");
    list_option(s, download, "--options", &Request::options, "Optional dependencies to install.");
    automation_options(s, download, false);

    CLI::App& list =
        add_action(s, "list-packages", "List all packages you have access to.", list_action);
    flag(s, list, "--json", &Request::json, "Print the packages as one JSON document.");

    CLI::App& check = add_action(s, "check-requirements",
                                 "Check if your system meets Tessel Enterprise requirements.",
                                 perform_check_action);
    flag(s, check, "--json", &Request::json,
         "Print the facts and the result as one JSON document.");
}

Args record_of(Parser::Storage& s, const CLI::App& action) {
    Args args;
    for (const auto& [declared, handler] : s.handlers) {
        if (declared == &action) args.action = handler;
    }
    for (const auto& [option, fill] : s.fills) {
        if (option->count() > 0) fill(args);
    }
    return args;
}

// CLI11 sees only canonical tokens, so what it can still reject is a missing required option;
// anything else it says is passed on in its own words.
UsageError usage_error_of(const CLI::App& top, const CLI::ParseError& error) {
    const auto selected = top.get_subcommands();
    const CLI::App* scope = selected.empty() ? &top : selected.front();
    std::vector<std::string> missing;
    for (const CLI::Option* option : scope->get_options()) {
        if (option->get_required() && option->count() == 0) {
            missing.push_back("--" + option->get_lnames().front());
        }
    }
    if (!missing.empty()) {
        return UsageError{scope, "the following options are required: " + text::join(missing, ", ")};
    }
    return UsageError{scope, error.what()};
}

std::string trimmed_message(const char* what) {
    std::string message = what == nullptr ? "" : what;
    while (!message.empty() && (message.back() == '\n' || message.back() == '\r')) message.pop_back();
    return message.empty() ? "unexpected failure" : message;
}

int report_interrupt(std::ostream& err, int signal_number) {
    err << kProgram << ": interrupted\n";
    err.flush();
    return interrupt_status(signal_number);
}

}  // namespace

std::unique_ptr<Parser> get_parser() {
    auto parser = std::make_unique<Parser>();
    declare(parser->storage());
    declare_program_version(parser->app());
    return parser;
}

ParseOutcome parse_arguments(Parser& parser, const std::vector<std::string>& arguments) {
    CLI::App& top = parser.app();
    ExpansionOutcome expanded = expand_arguments(top, arguments);
    if (auto* help = std::get_if<HelpRequest>(&expanded)) return *help;
    if (auto* error = std::get_if<UsageError>(&expanded)) return std::move(*error);

    // CLI11 reads its arguments from the back.
    std::vector<std::string> tokens = std::get<std::vector<std::string>>(std::move(expanded));
    std::reverse(tokens.begin(), tokens.end());
    try {
        top.clear();
        top.parse(tokens);
    } catch (const CLI::ParseError& error) {
        return usage_error_of(top, error);
    }
    const auto selected = top.get_subcommands();
    if (selected.empty()) return Args{};
    return record_of(parser.storage(), *selected.front());
}

int install_action(const Args& args, const Operations& ops) {
    // An empty folder is no folder: the online install runs.
    if (args.folder && !args.folder->empty()) return ops.install_packages_from_folder(args);
    return ops.install_packages(args);
}

int uninstall_action(const Args& args, const Operations& ops) { return ops.uninstall_packages(args); }

int download_action(const Args& args, const Operations& ops) { return ops.download_packages(args); }

int list_action(const Args& args, const Operations& ops) {
    return args.json ? ops.list_packages_json() : ops.list_packages();
}

int perform_check_action(const Args& args, const Operations& ops) {
    return args.json ? ops.print_check_results_json() : ops.print_check_results();
}

int run_cli(const std::vector<std::string>& arguments, const Operations& ops, std::ostream& out,
            std::ostream& err) {
    bool handlers_installed = false;
    // A signal recorded during the operation decides how the run ends, also when the operation
    // then returned or failed: the user asked to stop, and a script must not read success or an
    // unrelated error.
    const auto interrupt_recorded = [&] {
        return handlers_installed && ops.pending_interrupt ? ops.pending_interrupt() : 0;
    };
    try {
        const auto parser = get_parser();
        if (arguments.empty()) {
            out << help_text(parser->app()) << std::flush;
            return 0;
        }
        const ParseOutcome outcome = parse_arguments(*parser, arguments);
        if (const auto* help = std::get_if<HelpRequest>(&outcome)) {
            out << help_text(*help->parser) << std::flush;
            return 0;
        }
        if (const auto* error = std::get_if<UsageError>(&outcome)) {
            // The message quotes the offending argument, which may be any text (a file name that a
            // shell glob made an argument): rendered safe for the terminal.
            err << usage_line(*error->parser) << kProgram << ": error: "
                << text::terminal_safe(error->message) << '\n' << std::flush;
            return 2;
        }
        // A line that parses and asks for the version gets only the version, like help.
        if (program_version_requested(parser->app())) {
            out << program_version_line() << std::flush;
            return 0;
        }
        const Args& args = std::get<Args>(outcome);
        if (args.action == nullptr) {
            // Only a line such as a lone "--" gets here: as good as an empty one.
            out << help_text(parser->app()) << std::flush;
            return 0;
        }
        // Every action starts children (the requirements check its interpreter queries): a signal
        // must let the running one end and be passed on to it, never leave it behind.
        if (ops.install_interrupt_handlers) {
            ops.install_interrupt_handlers();
            handlers_installed = true;
        }
        const int status = args.action(args, ops);
        if (const int signal_number = interrupt_recorded(); signal_number != 0) {
            out << std::flush;
            return report_interrupt(err, signal_number);
        }
        return status;
    } catch (const Interrupted& interrupted) {
        out << std::flush;
        return report_interrupt(err, interrupted.signal_number());
    } catch (const std::exception& error) {
        out << std::flush;
        if (const int signal_number = interrupt_recorded(); signal_number != 0) {
            return report_interrupt(err, signal_number);
        }
        // Errors carry file names, a child's output and what the service said: one line, shown
        // and never obeyed by the terminal.
        err << kProgram << ": error: " << text::terminal_safe(trimmed_message(error.what())) << '\n'
            << std::flush;
        return 1;
    } catch (...) {
        out << std::flush;
        if (const int signal_number = interrupt_recorded(); signal_number != 0) {
            return report_interrupt(err, signal_number);
        }
        err << kProgram << ": error: unexpected failure\n" << std::flush;
        return 1;
    }
}

}  // namespace tessel_installer::frontdoor
