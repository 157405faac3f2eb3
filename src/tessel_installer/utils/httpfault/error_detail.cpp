// Decodes a reply body as JSON and prints the value the way Python prints the decoded value.
#include "tessel_installer/utils/httpfault/error_detail.hpp"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <nlohmann/json.hpp>
#include <optional>
#include <unordered_map>
#include <utility>
#include <vector>

namespace tessel_installer::httpfault::detail {
namespace {

// Deeper bodies are not followed (the printing recurses once per level); they count as not JSON.
constexpr std::size_t MAX_DEPTH = 1000;

struct Value {
    enum class Kind { Scalar, String, Array, Object };
    Kind kind = Kind::Scalar;
    std::string text;               // Scalar: printed form; String: the decoded text
    std::vector<Value> items;       // Array items, or Object values
    std::vector<std::string> keys;  // Object keys, parallel to items
};

// Python's repr of a float: the shortest text that reads back as the same number, in positional
// form for exponents from -4 to 15 (always with a fractional part) and in exponent form otherwise.
std::string float_text(double value) {
    if (std::isnan(value)) return "nan";
    if (std::isinf(value)) return value < 0 ? "-inf" : "inf";
    char buffer[64];
    const auto result =
        std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::scientific);
    const std::string_view shortest(buffer, static_cast<std::size_t>(result.ptr - buffer));
    // shortest is "[-]D[.DDD]e(+|-)XX"
    const std::size_t e_at = shortest.find('e');
    std::string_view mantissa = shortest.substr(0, e_at);
    const int exponent = std::atoi(std::string(shortest.substr(e_at + 1)).c_str());
    std::string sign;
    if (!mantissa.empty() && mantissa.front() == '-') {
        sign = "-";
        mantissa.remove_prefix(1);
    }
    std::string digits;
    for (const char c : mantissa) {
        if (c != '.') digits += c;
    }

    if (exponent < -4 || exponent >= 16) {
        std::string out = sign + digits.substr(0, 1);
        if (digits.size() > 1) out += "." + digits.substr(1);
        char exp_text[16];
        std::snprintf(exp_text, sizeof exp_text, "e%c%02d", exponent < 0 ? '-' : '+',
                      std::abs(exponent));
        return out + exp_text;
    }
    if (exponent < 0) {
        return sign + "0." + std::string(static_cast<std::size_t>(-exponent - 1), '0') + digits;
    }
    // exponent + 1 digits before the point, padded with zeros; at least one after it.
    const auto before = static_cast<std::size_t>(exponent + 1);
    std::string whole = digits.substr(0, before);
    if (whole.size() < before) whole.append(before - whole.size(), '0');
    const std::string fraction = digits.size() > before ? digits.substr(before) : "0";
    return sign + whole + "." + fraction;
}

// Characters Python's repr writes as escapes: controls, separators and blanks other than the
// space, the common format characters and private-use code points.
bool is_unprintable(char32_t c) {
    return c < 0x20 || (c >= 0x7F && c <= 0xA0) || c == 0xAD || c == 0x1680 || c == 0x180E ||
           (c >= 0x2000 && c <= 0x200F) || (c >= 0x2028 && c <= 0x202F) ||
           (c >= 0x205F && c <= 0x2064) || (c >= 0x2066 && c <= 0x206F) || c == 0x3000 ||
           (c >= 0xE000 && c <= 0xF8FF) || c == 0xFEFF || (c >= 0xFFF9 && c <= 0xFFFB) ||
           c >= 0xF0000;
}

// Python's repr of a text: single quotes unless the text holds a single quote and no double one.
std::string string_text(const std::string& text) {
    const bool has_single = text.find('\'') != std::string::npos;
    const bool has_double = text.find('"') != std::string::npos;
    const char quote = has_single && !has_double ? '"' : '\'';
    std::string out(1, quote);
    for (std::size_t i = 0; i < text.size();) {
        const auto lead = static_cast<unsigned char>(text[i]);
        // The decoder hands over valid UTF-8 only.
        const std::size_t length = lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
        char32_t c = length == 1 ? lead : lead & (0x7F >> length);
        for (std::size_t k = 1; k < length && i + k < text.size(); ++k) {
            c = (c << 6) | (static_cast<unsigned char>(text[i + k]) & 0x3F);
        }
        if (c == static_cast<char32_t>(quote) || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c == '\n') {
            out += "\\n";
        } else if (c == '\r') {
            out += "\\r";
        } else if (c == '\t') {
            out += "\\t";
        } else if (is_unprintable(c)) {
            char escape[16];
            std::snprintf(escape, sizeof escape,
                          c < 0x100 ? "\\x%02x" : c < 0x10000 ? "\\u%04x" : "\\U%08x",
                          static_cast<unsigned>(c));
            out += escape;
        } else {
            out.append(text, i, length);
        }
        i += length;
    }
    out += quote;
    return out;
}

void print(const Value& value, std::string& out) {
    switch (value.kind) {
        case Value::Kind::Scalar:
            out += value.text;
            return;
        case Value::Kind::String:
            out += string_text(value.text);
            return;
        case Value::Kind::Array:
        case Value::Kind::Object:
            const bool object = value.kind == Value::Kind::Object;
            out += object ? '{' : '[';
            for (std::size_t i = 0; i < value.items.size(); ++i) {
                if (i != 0) out += ", ";
                if (object) out += string_text(value.keys[i]) + ": ";
                print(value.items[i], out);
            }
            out += object ? '}' : ']';
            return;
    }
}

// Builds the value from the decoder's events. Objects keep their keys in first-seen order, and a
// repeated key keeps its place and takes the later value, as a Python dict does.
class Builder : public nlohmann::json_sax<nlohmann::json> {
public:
    std::optional<Value> result;

    bool null() override { return add(make("None")); }
    bool boolean(bool b) override { return add(make(b ? "True" : "False")); }
    bool number_integer(number_integer_t n) override { return add(make(std::to_string(n))); }
    bool number_unsigned(number_unsigned_t n) override { return add(make(std::to_string(n))); }
    bool number_float(number_float_t n, const string_t& raw) override {
        // An integer too large for 64 bits arrives here; Python keeps every digit of it.
        if (raw.find_first_of(".eE") == string_t::npos) return add(make(raw));
        return add(make(float_text(n)));
    }
    bool string(string_t& s) override { return add(make(std::move(s), Value::Kind::String)); }
    bool binary(binary_t&) override { return false; }
    bool start_object(std::size_t) override { return open(Value::Kind::Object); }
    bool key(string_t& k) override {
        Frame& frame = stack_.back();
        const auto found = frame.index.find(k);
        if (found != frame.index.end()) {
            frame.slot = found->second;
        } else {
            frame.slot = frame.value->items.size();
            frame.index.emplace(k, frame.slot);
            frame.value->keys.push_back(std::move(k));
            frame.value->items.emplace_back();
        }
        return true;
    }
    bool end_object() override { return close(); }
    bool start_array(std::size_t) override { return open(Value::Kind::Array); }
    bool end_array() override { return close(); }
    bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception&) override {
        return false;
    }

private:
    struct Frame {
        Value* value;
        std::unordered_map<std::string, std::size_t> index;  // objects: key -> position
        std::size_t slot = 0;                                // objects: where the next value goes
    };

    static Value make(std::string text, Value::Kind kind = Value::Kind::Scalar) {
        Value v;
        v.kind = kind;
        v.text = std::move(text);
        return v;
    }

    // Places a finished or just-opened value in its container (or as the result) and returns it.
    Value* place(Value value) {
        if (stack_.empty()) {
            result = std::move(value);
            return &*result;
        }
        Frame& frame = stack_.back();
        if (frame.value->kind == Value::Kind::Array) {
            frame.value->items.push_back(std::move(value));
            return &frame.value->items.back();
        }
        frame.value->items[frame.slot] = std::move(value);
        return &frame.value->items[frame.slot];
    }

    bool add(Value value) {
        place(std::move(value));
        return true;
    }

    bool open(Value::Kind kind) {
        if (stack_.size() >= MAX_DEPTH) return false;
        stack_.push_back(Frame{place(make({}, kind)), {}, 0});
        return true;
    }

    bool close() {
        stack_.pop_back();
        return true;
    }

    std::vector<Frame> stack_;
};

}  // namespace

std::string render_error_detail(std::string_view body) {
    Builder builder;
    if (!nlohmann::json::sax_parse(body, &builder) || !builder.result) return std::string(body);
    if (builder.result->kind == Value::Kind::String) return builder.result->text;
    std::string out;
    print(*builder.result, out);
    return out;
}

}  // namespace tessel_installer::httpfault::detail
