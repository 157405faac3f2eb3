// The command line as a user types it: which operation each line reaches with which arguments,
// every usage error with its status and its two lines on standard error, the help texts, and how
// errors and interrupts that escape an operation end the run.
#include <gtest/gtest.h>

#include <CLI/CLI.hpp>
#include <csignal>
#include <sstream>
#include <string>
#include <vector>

#include "tessel_installer/cli/argument_expansion.hpp"
#include "tessel_installer/cli/frontdoor.hpp"
#include "tessel_installer/config.hpp"
#include "tessel_installer/errors.hpp"

namespace tessel_installer::frontdoor {
namespace {

std::string text_of(const OptionalText& value) { return value ? "'" + *value + "'" : "none"; }

std::string text_of(const OptionalList& values) {
    if (!values) return "none";
    std::string text = "[";
    for (const auto& value : *values) text += (text.size() > 1 ? ", '" : "'") + value + "'";
    return text + "]";
}

std::string text_of(bool flag) { return flag ? "true" : "false"; }

// Operations that write down each call with its exact arguments and return `status`.
struct Recorder {
    std::vector<std::string> calls;
    int status = 0;

    Operations operations() {
        Operations ops;
        // Each call written down with the fields its operation reads.
        ops.install_packages = [this](const Request& r) {
            calls.push_back("install_packages(package=" + text_of(r.package) + ", options=" +
                            text_of(r.options) + ", debug=" + text_of(r.debug) + ", version=" +
                            text_of(r.version) + ", upgrade=" + text_of(r.upgrade) + ")");
            return status;
        };
        ops.install_packages_from_folder = [this](const Request& r) {
            calls.push_back("install_packages_from_folder(folder='" + r.folder.value_or("") +
                            "', package=" + text_of(r.package) + ", options=" + text_of(r.options) +
                            ", debug=" + text_of(r.debug) + ")");
            return status;
        };
        ops.download_packages = [this](const Request& r) {
            calls.push_back("download_packages(package=" + text_of(r.package) +
                            ", python_version=" + text_of(r.python_version) + ", platform=" +
                            text_of(r.platform) + ", folder=" + text_of(r.folder) + ", version=" +
                            text_of(r.version) + ", options=" + text_of(r.options) + ", debug=" +
                            text_of(r.debug) + ")");
            return status;
        };
        ops.uninstall_packages = [this](const Request& r) {
            calls.push_back("uninstall_packages(debug=" + text_of(r.debug) + ")");
            return status;
        };
        const auto without_arguments = [this](const char* call) {
            return [this, call] {
                calls.push_back(call);
                return status;
            };
        };
        ops.list_packages = without_arguments("list_packages()");
        ops.print_check_results = without_arguments("print_check_results()");
        ops.list_packages_json = without_arguments("list_packages_json()");
        ops.print_check_results_json = without_arguments("print_check_results_json()");
        ops.install_interrupt_handlers = [this] { calls.push_back("install_interrupt_handlers()"); };
        ops.pending_interrupt = [] { return 0; };
        return ops;
    }
};

struct Outcome {
    int status;
    std::string out;
    std::string err;
    std::vector<std::string> calls;
};

Outcome invoke(const std::vector<std::string>& arguments, Recorder recorder = {}) {
    std::ostringstream out;
    std::ostringstream err;
    const int status = run_cli(arguments, recorder.operations(), out, err);
    return {status, out.str(), err.str(), recorder.calls};
}

Outcome invoke(const std::vector<std::string>& arguments, const Operations& ops) {
    std::ostringstream out;
    std::ostringstream err;
    const int status = run_cli(arguments, ops, out, err);
    return {status, out.str(), err.str(), {}};
}

std::string shown(const std::vector<std::string>& arguments) {
    std::string text;
    for (const auto& argument : arguments) text += (text.empty() ? "" : " ") + ("<" + argument + ">");
    return text;
}

// A line that only prints `text` (a help, the version): status 0, nothing on standard error, and
// no operation called.
void expect_only_prints(const std::vector<std::string>& arguments, const std::string& text) {
    const Outcome result = invoke(arguments);
    EXPECT_EQ(result.status, 0) << shown(arguments);
    EXPECT_EQ(result.out, text) << shown(arguments);
    EXPECT_EQ(result.err, "") << shown(arguments);
    EXPECT_TRUE(result.calls.empty()) << shown(arguments);
}

constexpr const char* kInstallDefaults =
    "install_packages(package=none, options=none, debug=false, version=none, upgrade=false)";
constexpr const char* kInstallVersion =
    "install_packages(package=none, options=none, debug=false, version='1.2.3', upgrade=false)";
constexpr const char* kDownloadOut =
    "download_packages(package=none, python_version=none, platform=none, folder='out', "
    "version=none, options=none, debug=false)";

struct DispatchCase {
    std::vector<std::string> arguments;
    std::string call;
};

TEST(FrontdoorDispatch, EachLineReachesOneOperationWithExactlyTheGivenValues) {
    const std::vector<DispatchCase> cases = {
        // install: defaults, the three spellings of the version, the short forms
        {{"install"}, kInstallDefaults},
        {{"install", "--package", "bundle-alder", "--version", "1.2.3"},
         "install_packages(package='bundle-alder', options=none, debug=false, version='1.2.3', "
         "upgrade=false)"},
        {{"install", "-v", "1.2.3"}, kInstallVersion},
        {{"install", "--version=1.2.3"}, kInstallVersion},
        {{"install", "-v1.2.3"}, kInstallVersion},
        {{"install", "-v=1.2.3"}, kInstallVersion},
        {{"install", "-uv", "1.2.3"},
         "install_packages(package=none, options=none, debug=false, version='1.2.3', upgrade=true)"},
        {{"install", "--upgrade", "--debug", "--debug"},
         "install_packages(package=none, options=none, debug=true, version=none, upgrade=true)"},
        // options: one or more values, up to the next option; given again, the last list wins
        {{"install", "--options", "x", "y", "--debug"},
         "install_packages(package=none, options=['x', 'y'], debug=true, version=none, upgrade=false)"},
        {{"install", "--options", "a", "--options", "b", "c"},
         "install_packages(package=none, options=['b', 'c'], debug=false, version=none, upgrade=false)"},
        {{"install", "--options=a", "--package", "p"},
         "install_packages(package='p', options=['a'], debug=false, version=none, upgrade=false)"},
        // values are taken as written, also when they look like an action or start with "-"
        {{"install", "--package", "a", "--package", "b"},
         "install_packages(package='b', options=none, debug=false, version=none, upgrade=false)"},
        {{"install", "--package", "download"},
         "install_packages(package='download', options=none, debug=false, version=none, upgrade=false)"},
        {{"install", "--package=-x"},
         "install_packages(package='-x', options=none, debug=false, version=none, upgrade=false)"},
        {{"install", "--package", "-"},
         "install_packages(package='-', options=none, debug=false, version=none, upgrade=false)"},
        {{"install", "--package=a=b"},
         "install_packages(package='a=b', options=none, debug=false, version=none, upgrade=false)"},
        {{"install", "--package="},
         "install_packages(package='', options=none, debug=false, version=none, upgrade=false)"},
        // an empty folder is the online path; a folder drops version and upgrade
        {{"install", "--folder", ""}, kInstallDefaults},
        {{"install", "--folder="}, kInstallDefaults},
        {{"install", "--folder", "DIR", "-v", "1.2.3", "-u"},
         "install_packages_from_folder(folder='DIR', package=none, options=none, debug=false)"},
        {{"install", "--folder", "my dir", "--package", "p", "--options", "a", "b", "--debug"},
         "install_packages_from_folder(folder='my dir', package='p', options=['a', 'b'], "
         "debug=true)"},
        // unique prefixes of long options
        {{"install", "--pack", "x", "--opt", "a", "--deb", "--vers", "1", "--upg"},
         "install_packages(package='x', options=['a'], debug=true, version='1', upgrade=true)"},
        {{"install", "--pack=x", "--v=2"},
         "install_packages(package='x', options=none, debug=false, version='2', upgrade=false)"},
        {{"install", "--fo", "DIR"},
         "install_packages_from_folder(folder='DIR', package=none, options=none, debug=false)"},
        // "--" ends the options; the action may stand after it
        {{"install", "--"}, kInstallDefaults},
        {{"--", "install"}, kInstallDefaults},
        {{"install", "--options", "a", "--"},
         "install_packages(package=none, options=['a'], debug=false, version=none, upgrade=false)"},
        // uninstall
        {{"uninstall"}, "uninstall_packages(debug=false)"},
        {{"uninstall", "--debug"}, "uninstall_packages(debug=true)"},
        {{"uninstall", "--d"}, "uninstall_packages(debug=true)"},
        // download
        {{"download", "--folder", "out"}, kDownloadOut},
        {{"download", "--folder=out"}, kDownloadOut},
        {{"download", "--folder", "out", "--platform", "A", "--platform", "B"},
         "download_packages(package=none, python_version=none, platform=['A', 'B'], folder='out', "
         "version=none, options=none, debug=false)"},
        {{"download", "--platform", "B", "--folder", "out", "--platform=A"},
         "download_packages(package=none, python_version=none, platform=['B', 'A'], folder='out', "
         "version=none, options=none, debug=false)"},
        {{"download", "--folder", "out", "--options", "x", "y"},
         "download_packages(package=none, python_version=none, platform=none, folder='out', "
         "version=none, options=['x', 'y'], debug=false)"},
        {{"download", "--package", "p", "--python-version", "39", "--platform", "A", "--folder",
          "out", "--debug", "--version", "0.23", "--options", "x"},
         "download_packages(package='p', python_version='39', platform=['A'], folder='out', "
         "version='0.23', options=['x'], debug=true)"},
        {{"download", "--py", "311", "--pl", "A", "--f", "out", "--ve", "1", "--pa", "p"},
         "download_packages(package='p', python_version='311', platform=['A'], folder='out', "
         "version='1', options=none, debug=false)"},
        // the two actions without options
        {{"list-packages"}, "list_packages()"},
        {{"check-requirements"}, "print_check_results()"},
        {{"list-packages", "--json"}, "list_packages_json()"},
        {{"check-requirements", "--js"}, "print_check_results_json()"},
    };
    for (const auto& c : cases) {
        const Outcome result = invoke(c.arguments);
        EXPECT_EQ(result.status, 0) << shown(c.arguments) << "\n" << result.err;
        ASSERT_FALSE(result.calls.empty()) << shown(c.arguments) << "\n" << result.err;
        EXPECT_EQ(result.calls.back(), c.call) << shown(c.arguments);
        EXPECT_EQ(result.out, "") << shown(c.arguments);
        EXPECT_EQ(result.err, "") << shown(c.arguments);
    }
}

TEST(FrontdoorDispatch, InterruptHandlersGoInBeforeEveryAction) {
    EXPECT_EQ(invoke({"list-packages"}).calls,
              (std::vector<std::string>{"install_interrupt_handlers()", "list_packages()"}));
    EXPECT_EQ(invoke({"uninstall"}).calls,
              (std::vector<std::string>{"install_interrupt_handlers()",
                                        "uninstall_packages(debug=false)"}));
    // The requirements check starts interpreter queries; help and usage errors start no child.
    EXPECT_EQ(invoke({"check-requirements"}).calls,
              (std::vector<std::string>{"install_interrupt_handlers()", "print_check_results()"}));
    EXPECT_TRUE(invoke({"install", "--help"}).calls.empty());
    EXPECT_TRUE(invoke({"install", "--bogus"}).calls.empty());
}

TEST(FrontdoorDispatch, TheOperationsStatusIsTheProgramsStatus) {
    for (const int status : {0, 1, 3}) {
        for (const std::vector<std::string>& arguments :
             {std::vector<std::string>{"install"}, {"check-requirements"}, {"list-packages"}}) {
            Recorder recorder;
            recorder.status = status;
            EXPECT_EQ(invoke(arguments, recorder).status, status) << shown(arguments);
        }
    }
}

TEST(FrontdoorParse, TheRecordHoldsOnlyWhatWasGiven) {
    auto parser = get_parser();
    const ParseOutcome outcome =
        parse_arguments(*parser, {"download", "--folder", "out", "--platform", "A"});
    ASSERT_TRUE(std::holds_alternative<Args>(outcome));
    const Args& args = std::get<Args>(outcome);
    EXPECT_EQ(args.action, &download_action);
    EXPECT_EQ(args.folder, OptionalText("out"));
    EXPECT_EQ(args.platform, OptionalList(std::vector<std::string>{"A"}));
    EXPECT_FALSE(args.package.has_value());
    EXPECT_FALSE(args.options.has_value());
    EXPECT_FALSE(args.version.has_value());
    EXPECT_FALSE(args.python_version.has_value());
    EXPECT_FALSE(args.debug);
    EXPECT_FALSE(args.upgrade);

    auto fresh = get_parser();
    const ParseOutcome none = parse_arguments(*fresh, {"--"});
    ASSERT_TRUE(std::holds_alternative<Args>(none));
    EXPECT_EQ(std::get<Args>(none).action, nullptr);
}

OptionalList listed(const OptionalText& value) {
    return value ? OptionalList(std::vector<std::string>{*value}) : std::nullopt;
}

// Every value option of every action, in each way of writing its name, with values that a list
// reading, a separator or a dash could rewrite: each argument must reach the record as typed.
TEST(FrontdoorParse, EveryArgumentIsOneValueExactlyAsTyped) {
    struct ValueOption {
        std::string action;
        std::vector<std::string> spellings;  // how the name may be written
        OptionalList (*field)(const Args&);
        bool list;  // takes several values after one name
    };
    const std::vector<ValueOption> value_options = {
        {"install", {"--package", "--pack"}, [](const Args& a) { return listed(a.package); }, false},
        {"install", {"--options", "--opt"}, [](const Args& a) { return a.options; }, true},
        {"install", {"--folder", "--fo"}, [](const Args& a) { return listed(a.folder); }, false},
        {"install", {"--version", "--vers", "-v"}, [](const Args& a) { return listed(a.version); },
         false},
        {"download", {"--package", "--pa"}, [](const Args& a) { return listed(a.package); }, false},
        {"download", {"--python-version", "--py"},
         [](const Args& a) { return listed(a.python_version); }, false},
        {"download", {"--platform", "--pl"}, [](const Args& a) { return a.platform; }, false},
        {"download", {"--folder", "--fo"}, [](const Args& a) { return listed(a.folder); }, false},
        {"download", {"--version", "--ve"}, [](const Args& a) { return listed(a.version); }, false},
        {"download", {"--options", "--o"}, [](const Args& a) { return a.options; }, true},
    };
    const std::vector<std::string> values = {"[a,b]", "[]", "[[a]]", "[a]", "{}", "a,b", "=",
                                             "a=b", " ", "", "a b", "\t", "-", "--", "-x",
                                             "--debug", "download", "\xff["};
    for (const auto& option : value_options) {
        for (const auto& name : option.spellings) {
            for (const auto& value : values) {
                std::vector<std::vector<std::string>> lines = {{option.action, name + "=" + value}};
                // A separate argument never starts with "-"; a short name also takes the value
                // right after it ("-v=" is the other spelling of "-v").
                if (value.size() < 2 || value.front() != '-') {
                    lines.push_back({option.action, name, value});
                }
                if (name.size() == 2 && !value.empty() && value.front() != '=') {
                    lines.push_back({option.action, name + value});
                }
                for (auto arguments : lines) {
                    if (option.action == "download" && option.spellings.front() != "--folder") {
                        arguments.insert(arguments.end(), {"--folder", "out"});
                    }
                    auto parser = get_parser();
                    const ParseOutcome outcome = parse_arguments(*parser, arguments);
                    ASSERT_TRUE(std::holds_alternative<Args>(outcome)) << shown(arguments);
                    EXPECT_EQ(option.field(std::get<Args>(outcome)),
                              OptionalList(std::vector<std::string>{value}))
                        << shown(arguments);
                }
            }
        }
        if (!option.list) continue;
        // Several values after one name stay several, each one whole.
        const std::vector<std::string> several = {"[a,b]", "[]", "a,b", "=", "", "download"};
        std::vector<std::string> arguments = {option.action, option.spellings.front()};
        arguments.insert(arguments.end(), several.begin(), several.end());
        if (option.action == "download") arguments.insert(arguments.end(), {"--folder", "out"});
        auto parser = get_parser();
        const ParseOutcome outcome = parse_arguments(*parser, arguments);
        ASSERT_TRUE(std::holds_alternative<Args>(outcome)) << shown(arguments);
        EXPECT_EQ(option.field(std::get<Args>(outcome)), OptionalList(several)) << shown(arguments);
    }
}

// An exact long name is never read as the prefix of a longer one.
TEST(FrontdoorParse, AnExactNameWinsOverTheNamesItIsAPrefixOf) {
    CLI::App app{"test", "tessel-installer"};
    CLI::App* action = app.add_subcommand("act", "an action");
    std::string short_one;
    std::string long_one;
    action->add_option("--pack", short_one, "short");
    action->add_option("--package", long_one, "long");

    const auto exact = expand_arguments(app, {"act", "--pack", "x"});
    ASSERT_TRUE(std::holds_alternative<std::vector<std::string>>(exact));
    EXPECT_EQ(std::get<std::vector<std::string>>(exact),
              (std::vector<std::string>{"act", "--pack", "x"}));

    const auto ambiguous = expand_arguments(app, {"act", "--pa", "x"});
    ASSERT_TRUE(std::holds_alternative<UsageError>(ambiguous));
    EXPECT_EQ(std::get<UsageError>(ambiguous).message,
              "ambiguous option '--pa' (could be --pack, --package)");
}

struct UsageCase {
    std::vector<std::string> arguments;
    std::string usage_start;  // the start of the parser's usage line
    std::string message;
};

TEST(FrontdoorUsage, EveryUsageErrorPrintsTheUsageLineAndOneErrorLineWithStatus2) {
    const std::string top = "usage: tessel-installer [-h] [--version] ACTION";
    const std::string install = "usage: tessel-installer install [-h] [--package PACKAGE]";
    const std::string uninstall = "usage: tessel-installer uninstall [-h] [--debug]";
    const std::string download = "usage: tessel-installer download [-h] [--package PACKAGE]";
    const std::string list = "usage: tessel-installer list-packages [-h] [--json]\n";
    const std::string check = "usage: tessel-installer check-requirements [-h] [--json]\n";
    const std::string actions = "(choose from install, uninstall, download, list-packages, "
                                "check-requirements)";
    const std::vector<UsageCase> cases = {
        // the action
        {{"foo"}, top, "invalid action 'foo' " + actions},
        {{"Install"}, top, "invalid action 'Install' " + actions},
        {{"--", "foo"}, top, "invalid action 'foo' " + actions},
        {{"--bogus"}, top, "unrecognised option '--bogus'"},
        {{"-x"}, top, "unrecognised option '-x'"},
        {{"--version=1"}, top, "option '--version' takes no value"},
        {{"-v"}, top, "option '-v' must follow the action it belongs to"},
        // options before the action
        {{"--debug", "install"}, top, "option '--debug' must follow the action it belongs to"},
        {{"-u", "install"}, top, "option '-u' must follow the action it belongs to"},
        {{"--pack", "x", "install"}, top, "option '--pack' must follow the action it belongs to"},
        // undeclared options
        {{"install", "--bogus"}, install, "unrecognised option '--bogus' for 'install'"},
        {{"download", "--folder", "out", "-v", "1.2.3"}, download,
         "unrecognised option '-v' for 'download'"},
        {{"download", "--folder", "out", "-u"}, download, "unrecognised option '-u' for 'download'"},
        {{"uninstall", "--package", "x"}, uninstall, "unrecognised option '--package' for 'uninstall'"},
        {{"uninstall", "--p", "x"}, uninstall, "unrecognised option '--p' for 'uninstall'"},
        {{"list-packages", "--debug"}, list, "unrecognised option '--debug' for 'list-packages'"},
        {{"check-requirements", "--debug"}, check,
         "unrecognised option '--debug' for 'check-requirements'"},
        {{"install", "-ux"}, install, "unrecognised option '-x' for 'install'"},
        // ambiguous prefixes name every candidate
        {{"download", "--p", "x", "--folder", "out"}, download,
         "ambiguous option '--p' (could be --package, --python-version, --platform)"},
        {{"download", "--folder", "out", "--p=x"}, download,
         "ambiguous option '--p' (could be --package, --python-version, --platform)"},
        // missing values: the next option is never taken as the value
        {{"install", "--package"}, install, "option '--package' expects a value"},
        {{"install", "--package", "--debug"}, install, "option '--package' expects a value"},
        {{"install", "--pack", "--debug"}, install, "option '--package' expects a value"},
        {{"install", "-v"}, install, "option '-v' expects a value"},
        {{"install", "--version", "--"}, install, "option '--version' expects a value"},
        {{"download", "--folder"}, download, "option '--folder' expects a value"},
        {{"download", "--folder", "out", "--options"}, download,
         "option '--options' expects at least one value"},
        {{"install", "--options", "--debug"}, install, "option '--options' expects at least one value"},
        {{"install", "--options", "--", "x"}, install, "option '--options' expects at least one value"},
        // flags take no value
        {{"install", "--debug=yes"}, install, "option '--debug' takes no value"},
        {{"install", "-u=1"}, install, "option '-u' takes no value"},
        // the required folder
        {{"download"}, download, "the following options are required: --folder"},
        {{"download", "--package", "p", "--debug"}, download,
         "the following options are required: --folder"},
        // extra arguments
        {{"install", "extra"}, install, "unexpected argument 'extra'"},
        {{"install", "uninstall"}, install, "unexpected argument 'uninstall'"},
        {{"install", "--options=a", "b"}, install, "unexpected argument 'b'"},
        {{"install", "--", "--debug"}, install, "unexpected argument '--debug'"},
        {{"--", "install", "--debug"}, install, "unexpected argument '--debug'"},
        {{"list-packages", "all"}, list, "unexpected argument 'all'"},
        // the offending argument is shown safe for the terminal (a file name from a glob)
        {{"install", "wheels/\x1b]0;owned\x07.whl"}, install,
         "unexpected argument 'wheels/\\x1b]0;owned\\x07.whl'"},
        {{"--\xe2\x80\xae" "bogus"}, top, "unrecognised option '--\\u202ebogus'"},
    };
    for (const auto& c : cases) {
        const Outcome result = invoke(c.arguments);
        EXPECT_EQ(result.status, 2) << shown(c.arguments);
        EXPECT_EQ(result.out, "") << shown(c.arguments);
        EXPECT_TRUE(result.calls.empty()) << shown(c.arguments);
        EXPECT_EQ(result.err.rfind(c.usage_start, 0), 0u)
            << shown(c.arguments) << "\n" << result.err;
        const std::string last = "\ntessel-installer: error: " + c.message + "\n";
        ASSERT_GE(result.err.size(), last.size()) << shown(c.arguments);
        EXPECT_EQ(result.err.substr(result.err.size() - last.size()), last)
            << shown(c.arguments) << "\n" << result.err;
        // Only the usage line, however wrapped, precedes the error line.
        std::istringstream lines(result.err.substr(0, result.err.size() - last.size() + 1));
        std::string line;
        std::getline(lines, line);
        while (std::getline(lines, line)) {
            EXPECT_EQ(line.rfind("    ", 0), 0u) << shown(c.arguments) << "\n" << result.err;
        }
    }
}

// Blank runs and line breaks folded to one blank, so wrapped help reads as one text.
std::string folded(const std::string& text) {
    std::string result;
    for (const char c : text) {
        const bool blank = c == ' ' || c == '\n';
        if (blank && (result.empty() || result.back() == ' ')) continue;
        result += blank ? ' ' : c;
    }
    return result;
}

// Checks that each entry ("label help text") appears, in this order, in the folded help.
void expect_in_order(const std::string& help, const std::vector<std::string>& entries) {
    const std::string text = folded(help);
    std::size_t from = 0;
    for (const auto& entry : entries) {
        const std::size_t at = text.find(entry, from);
        EXPECT_NE(at, std::string::npos) << "missing or out of order: " << entry << "\n" << help;
        if (at != std::string::npos) from = at + entry.size();
    }
}

void expect_within_80_columns(const std::string& help) {
    std::istringstream lines(help);
    for (std::string line; std::getline(lines, line);) EXPECT_LE(line.size(), 80u) << line;
}

TEST(FrontdoorHelp, AnEmptyLineOrALoneDoubleDashPrintsTheTopLevelHelp) {
    const Outcome empty = invoke({});
    EXPECT_EQ(empty.status, 0);
    EXPECT_EQ(empty.err, "");
    EXPECT_TRUE(empty.calls.empty());
    EXPECT_EQ(empty.out.rfind("usage: tessel-installer [-h] [--version] ACTION ...\n", 0), 0u)
        << empty.out;
    expect_in_order(empty.out,
                    {"Tessel Installer.", "options: -h, --help Show this help message and exit.",
                     "--version Show the program's version and exit.", "action: install Install your Tessel Enterprise Packages.",
                     "uninstall Uninstall your Tessel Enterprise Packages.",
                     "download Download your Tessel Enterprise Packages for offline installation.",
                     "list-packages List all packages you have access to.",
                     "check-requirements Check if your system meets Tessel Enterprise "
                     "requirements."});
    expect_within_80_columns(empty.out);

    for (const std::vector<std::string>& same :
         {std::vector<std::string>{"--"}, {"-h"}, {"--help"}, {"--he"}, {"-h", "install"},
          {"foo", "--help"}, {"--bogus", "-h"}}) {
        expect_only_prints(same, empty.out);
    }
}

TEST(FrontdoorHelp, EachActionsHelpListsItsOptionsInOrderWithTheirTexts) {
    struct HelpCase {
        std::string action;
        std::vector<std::string> entries;
    };
    const std::vector<HelpCase> cases = {
        {"install",
         {"Install your Tessel Enterprise Packages.",
          "-h, --help Show this help message and exit.",
          "--package PACKAGE The package that you want to install.",
          "--options OPTIONS [OPTIONS ...] Optional dependencies to install.",
          "--folder FOLDER Install from a local folder.", "--debug Print pip install commands.",
          "-v, --version VERSION Tessel-Enterprise version (e.g., 0.23.0).",
          "-u, --upgrade Upgrade the current installed packages."}},
        {"uninstall",
         {"Uninstall your Tessel Enterprise Packages.", "-h, --help Show this help message and exit.",
          "--debug Print pip install commands."}},
        {"download",
         {"Download your Tessel Enterprise Packages for offline installation.",
          "-h, --help Show this help message and exit.",
          "--package PACKAGE The package that you want to download. If not provided, all "
          "packages will be downloaded\n",
          "--python-version PYTHON_VERSION Python version (e.g., 39).",
          "--platform PLATFORM Platform tag(s) (e.g., macosx_14_0_arm64). You can specify this "
          "multiple times.",
          "--folder FOLDER Destination folder for downloaded packages.",
          "--debug Print pip download commands.",
          "--version VERSION Tessel-Enterprise version (e.g., 0.23).",
          "--options OPTIONS [OPTIONS ...] Optional dependencies to install."}},
        {"list-packages",
         {"List all packages you have access to.", "-h, --help Show this help message and exit."}},
        {"check-requirements",
         {"Check if your system meets Tessel Enterprise requirements.",
          "-h, --help Show this help message and exit."}},
    };
    for (const auto& c : cases) {
        const Outcome result = invoke({c.action, "--help"});
        EXPECT_EQ(result.status, 0) << c.action;
        EXPECT_EQ(result.err, "") << c.action;
        EXPECT_EQ(result.out.rfind("usage: tessel-installer " + c.action + " [-h]", 0), 0u)
            << result.out;
        // The unwrapped package help of download ends without a full stop, right before the
        // next entry; everywhere else a line break is folded away.
        std::vector<std::string> entries = c.entries;
        for (auto& entry : entries) {
            if (entry.ends_with('\n')) entry.back() = ' ';
        }
        expect_in_order(result.out, entries);
        expect_within_80_columns(result.out);
        EXPECT_EQ(result.out.find("action:"), std::string::npos) << result.out;
    }
}

TEST(FrontdoorHelp, ShortFormsBelongToInstallAndTheFolderIsRequiredOnlyForDownload) {
    const std::string install = invoke({"install", "-h"}).out;
    const std::string download = invoke({"download", "-h"}).out;
    EXPECT_NE(install.find("[-v VERSION] [-u]"), std::string::npos) << install;
    EXPECT_NE(install.find("[--folder FOLDER]"), std::string::npos) << install;
    EXPECT_EQ(download.find("-v,"), std::string::npos) << download;
    EXPECT_EQ(download.find("-u,"), std::string::npos) << download;
    // Required, so shown without brackets in the usage line.
    EXPECT_NE(folded(download).find(" --folder FOLDER [--debug]"), std::string::npos) << download;
}

TEST(FrontdoorHelp, HelpWinsOverUsageErrorsAndOverTheRequiredFolder) {
    const std::string download_help = invoke({"download", "--help"}).out;
    const std::string install_help = invoke({"install", "--help"}).out;
    ASSERT_NE(download_help, install_help);
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
        {{"download", "-h"}, download_help},
        {{"download", "--he"}, download_help},
        {{"download", "--platform", "A", "--help"}, download_help},
        {{"install", "--bogus", "--help"}, install_help},
        {{"install", "--help", "--bogus"}, install_help},
        {{"install", "--package", "-h"}, install_help},
        {{"install", "-uh"}, install_help},
    };
    for (const auto& [arguments, help] : cases) expect_only_prints(arguments, help);
    // After "--" a help option is only an unexpected argument.
    const Outcome late = invoke({"install", "--", "--help"});
    EXPECT_EQ(late.status, 2);
    EXPECT_EQ(late.out, "");
}

// The program's version is a top-level option only; after an action, --version is still the
// package version.
TEST(FrontdoorVersion, TheTopLevelVersionPrintsTheProgramsVersionInsteadOfRunningTheAction) {
    const std::string line = "tessel-installer " + std::string(config::PROGRAM_VERSION) + "\n";
    for (const std::vector<std::string>& arguments :
         {std::vector<std::string>{"--version"}, {"--vers"}, {"--version", "install"},
          {"--version", "--"}}) {
        expect_only_prints(arguments, line);
    }
    EXPECT_EQ(invoke({"--version", "--help"}).out, invoke({"--help"}).out);
    EXPECT_EQ(invoke({"--version", "download"}).status, 2);  // still a line with a usage error
    EXPECT_EQ(invoke({"install", "--version", "2.0"}).calls.back(),
              "install_packages(package=none, options=none, debug=false, version='2.0', "
              "upgrade=false)");
    EXPECT_EQ(invoke({"download", "--folder", "out", "--version", "2.0"}).calls.back(),
              "download_packages(package=none, python_version=none, platform=none, "
              "folder='out', version='2.0', options=none, debug=false)");
}

Operations throwing(std::function<void()> thrower) {
    Recorder recorder;
    Operations ops = recorder.operations();
    ops.list_packages = [thrower] {
        thrower();
        return 0;
    };
    ops.install_interrupt_handlers = [] {};
    return ops;
}

TEST(FrontdoorErrors, AnErrorThatEscapesAnOperationIsOneLineAndStatus1) {
    struct ErrorCase {
        std::function<void()> thrower;
        std::string line;
    };
    const std::vector<ErrorCase> cases = {
        {[] { throw RuntimeError("the installation engine is not part of this build yet"); },
         "tessel-installer: error: the installation engine is not part of this build yet\n"},
        {[] { throw ValueError("Invalid wheel filename: x.whl"); },
         "tessel-installer: error: Invalid wheel filename: x.whl\n"},
        {[] { throw OSError("cannot start /bin/python: No such file or directory"); },
         "tessel-installer: error: cannot start /bin/python: No such file or directory\n"},
        {[] { throw std::runtime_error("plain\n"); }, "tessel-installer: error: plain\n"},
        {[] { throw std::runtime_error(""); }, "tessel-installer: error: unexpected failure\n"},
        {[] { throw 42; }, "tessel-installer: error: unexpected failure\n"},
    };
    for (const auto& c : cases) {
        const Outcome result = invoke({"list-packages"}, throwing(c.thrower));
        EXPECT_EQ(result.status, 1) << c.line;
        EXPECT_EQ(result.out, "");
        EXPECT_EQ(result.err, c.line);
    }
}

TEST(FrontdoorErrors, AnInterruptEndsWith128PlusTheSignal) {
    for (const auto& [signal_number, status] : {std::pair{SIGINT, 130}, std::pair{SIGTERM, 143}}) {
        const int sig = signal_number;
        const Outcome thrown = invoke({"list-packages"}, throwing([sig] { throw Interrupted(sig); }));
        EXPECT_EQ(thrown.status, status);
        EXPECT_EQ(thrown.err, "tessel-installer: interrupted\n");
        EXPECT_EQ(thrown.out, "");

        // A signal recorded while the operation finished normally still ends the run as
        // interrupted.
        Recorder recorder;
        Operations ops = recorder.operations();
        ops.pending_interrupt = [sig] { return sig; };
        const Outcome pending = invoke({"install"}, ops);
        EXPECT_EQ(pending.status, status);
        EXPECT_EQ(pending.err, "tessel-installer: interrupted\n");

        // An error that the interrupt brought about (a transfer cut short) is not the story.
        Operations failing = throwing([] { throw RuntimeError("transfer aborted"); });
        failing.pending_interrupt = [sig] { return sig; };
        const Outcome failed = invoke({"list-packages"}, failing);
        EXPECT_EQ(failed.status, status);
        EXPECT_EQ(failed.err, "tessel-installer: interrupted\n");
    }

    // Without handlers nothing was recorded on the program's behalf.
    Recorder recorder;
    Operations ops = recorder.operations();
    ops.install_interrupt_handlers = nullptr;
    ops.pending_interrupt = [] { return SIGINT; };
    EXPECT_EQ(invoke({"check-requirements"}, ops).status, 0);
}

}  // namespace
}  // namespace tessel_installer::frontdoor
