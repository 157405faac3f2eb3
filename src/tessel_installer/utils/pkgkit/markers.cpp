// Environment markers: comparisons of marker variables and quoted values, joined by "and" / "or"
// and grouped by parentheses. Only the grammar is checked here; nothing is evaluated.
#include <array>
#include <utility>

#include "tessel_installer/utils/pkgkit/requirement.hpp"
#include "tessel_installer/utils/pkgkit/requirement_cursor.hpp"

namespace tessel_installer::pkgkit {
namespace detail {
namespace {

// Deeper nesting than this is refused rather than risking the stack on hostile input.
constexpr int max_group_depth = 100;

// Spellings and their standard names; a spelling that begins another is listed after it, so the
// first match is the longest.
constexpr std::array<std::pair<std::string_view, std::string_view>, 18> variables{{
    {"implementation_version", "implementation_version"},
    {"platform_python_implementation", "platform_python_implementation"},
    {"implementation_name", "implementation_name"},
    {"python_full_version", "python_full_version"},
    {"platform_release", "platform_release"},
    {"platform_version", "platform_version"},
    {"platform_machine", "platform_machine"},
    {"platform_system", "platform_system"},
    {"python_version", "python_version"},
    {"sys_platform", "sys_platform"},
    {"os_name", "os_name"},
    {"os.name", "os_name"},
    {"sys.platform", "sys_platform"},
    {"platform.version", "platform_version"},
    {"platform.machine", "platform_machine"},
    {"platform.python_implementation", "platform_python_implementation"},
    {"python_implementation", "platform_python_implementation"},
    {"extra", "extra"},
}};

constexpr std::array<std::string_view, 8> comparison_ops{"===", "==", ">=", "<=",
                                                         "!=",  "~=", ">",  "<"};
constexpr std::array<std::string_view, 2> joiners{"and", "or"};

MarkerOperand read_operand(Cursor& c) {
    c.skip_space();
    const char quote = c.peek();
    if (quote == '"' || quote == '\'') {
        const std::size_t start = c.pos + 1;
        std::size_t k = start;
        while (k < c.whole.size() && c.whole[k] != quote) {
            if (c.whole[k] == '\n' || c.whole[k] == '\r') {
                c.pos = k;
                c.fail("a quoted marker value cannot span lines");
            }
            ++k;
        }
        if (k >= c.whole.size()) c.fail(std::string("the quoted value has no closing ") + quote);
        c.pos = k + 1;
        return {false, std::string(c.whole.substr(start, k - start))};
    }
    for (const auto& [spelling, standard] : variables) {
        if (c.consume(spelling)) return {true, std::string(standard)};
    }
    c.fail("expected a marker variable (such as python_version) or a quoted value");
}

std::string read_op(Cursor& c) {
    c.skip_space();
    if (const auto op = c.consume_any(comparison_ops); !op.empty()) return std::string(op);
    if (c.starts_with("not")) {
        std::size_t k = c.pos + 3;
        const std::size_t after_not = k;
        while (k < c.whole.size() && text::is_token_space(c.whole[k])) ++k;
        if (k > after_not && c.whole.substr(k).starts_with("in")) {
            c.pos = k + 2;
            return "not in";
        }
    }
    if (c.consume("in")) return "in";
    c.fail("expected a marker operator (==, !=, <, <=, >, >=, ~=, ===, in, not in)");
}

std::vector<MarkerElement> read_expression(Cursor& c, int depth);

MarkerElement read_atom(Cursor& c, int depth) {
    c.skip_space();
    if (c.peek() == '(') {
        if (depth >= max_group_depth) c.fail("markers are nested too deeply");
        ++c.pos;
        MarkerElement group{MarkerElement::Kind::group, {}, {}, read_expression(c, depth + 1)};
        c.skip_space();
        if (!c.consume(")")) c.fail("expected ')' to close the group");
        return group;
    }
    MarkerComparison cmp;
    cmp.lhs = read_operand(c);
    cmp.op = read_op(c);
    cmp.rhs = read_operand(c);
    return MarkerElement{MarkerElement::Kind::comparison, std::move(cmp), {}, {}};
}

std::vector<MarkerElement> read_expression(Cursor& c, int depth) {
    std::vector<MarkerElement> elements;
    elements.push_back(read_atom(c, depth));
    for (;;) {
        const std::size_t before = c.pos;
        c.skip_space();
        const std::string_view joiner = c.consume_any(joiners);
        if (joiner.empty()) {
            c.pos = before;
            return elements;
        }
        elements.push_back(
            MarkerElement{MarkerElement::Kind::boolean, {}, std::string(joiner), {}});
        elements.push_back(read_atom(c, depth));
    }
}

// Values are written in double quotes, or in single quotes when they hold a double quote (a value
// read from the text never holds both), so the canonical text always reads back as the marker.
std::string serialize(const MarkerOperand& operand) {
    if (operand.is_variable) return operand.text;
    const char quote = operand.text.find('"') == std::string::npos ? '"' : '\'';
    return quote + operand.text + quote;
}

std::string serialize(const MarkerComparison& cmp) {
    return serialize(cmp.lhs) + " " + cmp.op + " " + serialize(cmp.rhs);
}

// Redundant parentheses are dropped: a group that holds one comparison or one group is written as
// its content. Parentheses that change the meaning, around an "or" inside an "and" say, stay.
std::string format_elements(const std::vector<MarkerElement>& elements, bool outermost) {
    if (elements.size() == 1 && elements[0].kind != MarkerElement::Kind::boolean) {
        return elements[0].kind == MarkerElement::Kind::group
                   ? format_elements(elements[0].group, outermost)
                   : serialize(elements[0].comparison);
    }
    std::string out;
    for (const auto& element : elements) {
        if (!out.empty()) out += ' ';
        switch (element.kind) {
            case MarkerElement::Kind::comparison: out += serialize(element.comparison); break;
            case MarkerElement::Kind::boolean: out += element.boolean; break;
            case MarkerElement::Kind::group: out += format_elements(element.group, false); break;
        }
    }
    return outermost ? out : "(" + out + ")";
}

}  // namespace

Marker read_marker(Cursor& c) { return Marker{read_expression(c, 0)}; }

}  // namespace detail

std::string Marker::to_string() const { return detail::format_elements(elements, true); }

Marker parse_marker(std::string_view text_in) {
    detail::Cursor c{text_in, "marker"};
    Marker marker = detail::read_marker(c);
    c.skip_space();
    if (!c.at_end()) c.fail("expected 'and', 'or' or the end of the marker");
    return marker;
}

}  // namespace tessel_installer::pkgkit
