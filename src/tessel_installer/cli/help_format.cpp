// The usage line and help of each parser, laid out from what CLI11 declares: the usage line with
// every option in declaration order, the description, then the options and the actions, each
// with its help text in a second column, wrapped at 80 columns.
#include <CLI/CLI.hpp>
#include <algorithm>
#include <cctype>
#include <string>
#include <vector>

#include "tessel_installer/cli/frontdoor.hpp"
#include "tessel_installer/terminal_text.hpp"

namespace tessel_installer::frontdoor {

namespace {

constexpr std::size_t kWidth = 80;
constexpr std::size_t kIndent = 2;
constexpr std::size_t kHelpColumn = 24;
constexpr const char* kProgram = "tessel-installer";

std::vector<std::string> words_of(const std::string& text) {
    std::vector<std::string> words;
    std::size_t at = 0;
    while (at < text.size()) {
        const std::size_t start = text.find_first_not_of(' ', at);
        if (start == std::string::npos) break;
        const std::size_t end = std::min(text.find(' ', start), text.size());
        words.push_back(text.substr(start, end - start));
        at = end;
    }
    return words;
}

// Fills lines of at most `width` characters with the pieces, a blank between two; a piece longer
// than a line gets a line of its own.
std::vector<std::string> fill(const std::vector<std::string>& pieces, std::size_t width) {
    std::vector<std::string> lines;
    std::string line;
    for (const auto& piece : pieces) {
        if (!line.empty() && line.size() + 1 + piece.size() > width) {
            lines.push_back(line);
            line.clear();
        }
        if (!line.empty()) line += ' ';
        line += piece;
    }
    if (!line.empty()) lines.push_back(line);
    return lines;
}

bool is_flag(const CLI::Option& option) { return option.get_items_expected_max() <= 0; }

std::string metavar(const CLI::Option& option) {
    std::string name = option.get_lnames().front();
    std::transform(name.begin(), name.end(), name.begin(), [](unsigned char c) {
        return c == '-' ? '_' : static_cast<char>(std::toupper(c));
    });
    return name;
}

std::string value_part(const CLI::Option& option) {
    if (is_flag(option)) return "";
    const std::string name = metavar(option);
    if (option.get_items_expected_max() > 1) return " " + name + " [" + name + " ...]";
    return " " + name;
}

// The option as the usage line shows it: its shortest name and its value.
std::string usage_piece(const CLI::Option& option) {
    const std::string name = option.get_snames().empty() ? "--" + option.get_lnames().front()
                                                         : "-" + option.get_snames().front();
    const std::string piece = name + value_part(option);
    return option.get_required() ? piece : "[" + piece + "]";
}

// The option as its help line shows it: every name, then its value.
std::string help_label(const CLI::Option& option) {
    std::vector<std::string> names;
    for (const auto& short_name : option.get_snames()) names.push_back("-" + short_name);
    for (const auto& long_name : option.get_lnames()) names.push_back("--" + long_name);
    return text::join(names, ", ") + value_part(option);
}

// One entry of a help section: the label in the first column, the help text beside it, or on the
// next line when the label reaches into the second column.
void add_entry(std::string& text, const std::string& label, const std::string& help) {
    const std::string indent(kIndent, ' ');
    const std::string column(kHelpColumn, ' ');
    const auto lines = fill(words_of(help), kWidth - kHelpColumn);
    if (lines.empty()) {
        text += indent + label + "\n";
        return;
    }
    std::string first = indent + label;
    if (first.size() + 2 > kHelpColumn) {
        text += first + "\n";
        first = column;
    } else {
        first.resize(kHelpColumn, ' ');
    }
    for (std::size_t k = 0; k < lines.size(); ++k) text += (k == 0 ? first : column) + lines[k] + "\n";
}

std::string command_of(const CLI::App& parser) {
    if (parser.get_parent() == nullptr) return kProgram;
    return std::string(kProgram) + " " + parser.get_name();
}

}  // namespace

std::string usage_line(const CLI::App& parser) {
    std::vector<std::string> pieces;
    for (const CLI::Option* option : parser.get_options()) pieces.push_back(usage_piece(*option));
    if (!actions_of(parser).empty()) pieces.push_back("ACTION ...");

    const std::string lead = "usage: " + command_of(parser) + " ";
    // A lead too wide to indent under leaves the continuation lines a fixed indent instead.
    const std::size_t hang = lead.size() <= kWidth / 2 ? lead.size() : 4;
    const auto lines = fill(pieces, kWidth - hang);
    std::string text = lead;
    for (std::size_t k = 0; k < lines.size(); ++k) {
        if (k > 0) text += "\n" + std::string(hang, ' ');
        text += lines[k];
    }
    return text + "\n";
}

std::string help_text(const CLI::App& parser) {
    std::string text = usage_line(parser);
    if (!parser.get_description().empty()) text += "\n" + parser.get_description() + "\n";

    text += "\noptions:\n";
    for (const CLI::Option* option : parser.get_options()) {
        add_entry(text, help_label(*option), option->get_description());
    }

    // Actions listed under their group's title, groups in the order their first action appears.
    std::vector<std::string> groups;
    for (const CLI::App* action : actions_of(parser)) {
        if (std::find(groups.begin(), groups.end(), action->get_group()) == groups.end()) {
            groups.push_back(action->get_group());
        }
    }
    for (const auto& group : groups) {
        text += "\n" + group + ":\n";
        for (const CLI::App* action : actions_of(parser)) {
            if (action->get_group() == group) {
                add_entry(text, action->get_name(), action->get_description());
            }
        }
    }
    if (!groups.empty()) {
        text += std::string("\nRun '") + kProgram + " ACTION --help' for the options of an action.\n";
    }
    return text;
}

}  // namespace tessel_installer::frontdoor
