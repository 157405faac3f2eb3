// The command-line front end: the grammar of the five actions, the parsed-arguments record, the
// handlers that hand it to one operation each, and run_cli, the program's main routine.
#pragma once

#include <functional>
#include <iosfwd>
#include <memory>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "tessel_installer/installation/installer.hpp"

namespace CLI {
class App;
}

namespace tessel_installer::frontdoor {

using installer::OptionalList;
using installer::OptionalText;
using installer::Request;

// The operations the handlers call. run_cli(argc, argv) uses the real ones; tests pass recorders.
struct Operations {
    std::function<int(const Request&)> install_packages;
    std::function<int(const Request&)> install_packages_from_folder;
    std::function<int(const Request&)> download_packages;
    std::function<int(const Request&)> uninstall_packages;
    std::function<int()> list_packages;
    std::function<int()> print_check_results;
    // The same two with --json: one JSON document instead of the text.
    std::function<int()> list_packages_json;
    std::function<int()> print_check_results_json;
    // Called once before an engine operation starts, so Ctrl-C lets the running pip child end.
    std::function<void()> install_interrupt_handlers;
    // The signal recorded since then, or 0; a run that ends after one was recorded is interrupted.
    std::function<int()> pending_interrupt;
};

// The real operations of the installation engine, the requirements check and the platform.
Operations default_operations();

struct Args;
using Handler = int (*)(const Args&, const Operations&);

// One record per run: the engine's request, and the chosen action's handler (none when no action
// was chosen).
struct Args : Request {
    Handler action = nullptr;
};

// The handlers: each passes the record's values through unchanged to one operation and returns
// that operation's exit status.
int install_action(const Args& args, const Operations& ops);
int uninstall_action(const Args& args, const Operations& ops);
int download_action(const Args& args, const Operations& ops);
int list_action(const Args& args, const Operations& ops);
int perform_check_action(const Args& args, const Operations& ops);

// The declared grammar. It owns the CLI11 parser and the storage the options write into, so it
// can be neither copied nor moved.
class Parser {
public:
    Parser();
    ~Parser();
    Parser(const Parser&) = delete;
    Parser& operator=(const Parser&) = delete;

    CLI::App& app();
    const CLI::App& app() const;

    struct Storage;
    Storage& storage();

private:
    std::unique_ptr<Storage> storage_;
};

// The fully declared top-level parser.
std::unique_ptr<Parser> get_parser();

// What parsing a command line came to.
struct HelpRequest {
    const CLI::App* parser;  // the parser whose help was asked for
};
struct UsageError {
    const CLI::App* parser;  // the parser whose usage line goes with the message
    std::string message;
};
using ParseOutcome = std::variant<Args, HelpRequest, UsageError>;

// Parses the arguments after the program name. Never prints and never ends the process.
ParseOutcome parse_arguments(Parser& parser, const std::vector<std::string>& arguments);

// The texts the front end prints.
std::string help_text(const CLI::App& parser);
std::string usage_line(const CLI::App& parser);
// The parser's actions in declaration order.
std::vector<const CLI::App*> actions_of(const CLI::App& parser);

// The main routine: parses, dispatches and turns every way a run can end into an exit status.
// Help goes to `out`; usage errors and escaped errors go to `err`.
int run_cli(const std::vector<std::string>& arguments, const Operations& ops, std::ostream& out,
            std::ostream& err);
int run_cli(int argc, char** argv);

}  // namespace tessel_installer::frontdoor
