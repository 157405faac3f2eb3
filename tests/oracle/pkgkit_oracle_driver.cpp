// Prints this program's answer for every entry of a corpus file (JSON lines), one JSON line each,
// in the textual form that compare_with_packaging.py also derives from the packaging library.
#include <algorithm>
#include <fstream>
#include <iostream>
#include <set>
#include <string>

#include <nlohmann/json.hpp>

#include "tessel_installer/utils/pkgkit/filenames.hpp"
#include "tessel_installer/utils/pkgkit/pkgkit.hpp"
#include "tessel_installer/utils/pkgkit/requirement.hpp"
#include "tessel_installer/utils/pkgkit/version.hpp"

namespace pk = tessel_installer::pkgkit;
using nlohmann::json;

namespace {

std::string version_answer(const std::string& input) {
    const auto v = pk::Version::parse(input);
    return v ? "ok " + v->to_string() : "invalid";
}

std::string order_answer(const std::string& a, const std::string& b) {
    const auto va = pk::Version::parse(a);
    const auto vb = pk::Version::parse(b);
    std::string cmp = "invalid";
    if (va && vb) cmp = *va < *vb ? "lt" : (*va == *vb ? "eq" : "gt");
    return cmp + " bigger=" + (pk::is_version_bigger(a, b) ? "1" : "0") +
           " equal=" + (pk::is_version_equal(a, b) ? "1" : "0");
}

std::string wheel_answer(const std::string& input) {
    try {
        const auto w = pk::parse_wheel_filename(input);
        std::string out = "ok name=" + w.name + " version=" + w.version.to_string() + " build=";
        out += w.build ? w.build->number.digits() + "," + w.build->suffix : "none";
        out += " tags=";
        for (std::size_t k = 0; k < w.tags.size(); ++k) {
            if (k > 0) out += ' ';
            out += w.tags[k].interpreter + "-" + w.tags[k].abi + "-" + w.tags[k].platform;
        }
        return out;
    } catch (const pk::InvalidWheelFilename&) {
        return "invalid";
    }
}

std::string sdist_answer(const std::string& input) {
    try {
        const auto s = pk::parse_sdist_filename(input);
        return "ok name=" + s.name + " version=" + s.version.to_string();
    } catch (const pk::InvalidSdistFilename&) {
        return "invalid";
    }
}

std::string requirement_answer(const std::string& input) {
    try {
        const auto r = pk::parse_requirement(input);
        const std::set<std::string> extras(r.extras.begin(), r.extras.end());
        std::set<std::string> specs;
        for (const auto& s : r.specifiers) specs.insert(s.to_string());
        std::string out = "ok name=" + r.name + " extras=";
        bool first = true;
        for (const auto& e : extras) {
            out += (first ? "" : ",") + e;
            first = false;
        }
        out += " specifiers=";
        first = true;
        for (const auto& s : specs) {
            out += (first ? "" : ",") + s;
            first = false;
        }
        out += " url=" + r.url.value_or("none");
        out += " marker=" + (r.marker ? r.marker->to_string() : std::string("none"));
        // The name that the install operations take from a requested entry.
        if (pk::get_requirement_name(input) != r.name) out += " NAME-MISMATCH";
        return out;
    } catch (const pk::InvalidRequirement&) {
        return "invalid";
    }
}

std::string package_name_answer(const std::string& input) {
    try {
        const auto name = pk::get_package_name(input);
        return name ? "name " + *name : "none";
    } catch (const pk::InvalidWheelFilename&) {
        return "invalid";
    } catch (const pk::InvalidSdistFilename&) {
        return "invalid";
    }
}

std::string answer(const json& entry) {
    const auto kind = entry.at("kind").get<std::string>();
    if (kind == "order") return order_answer(entry.at("a"), entry.at("b"));
    const auto input = entry.at("input").get<std::string>();
    if (kind == "version") return version_answer(input);
    if (kind == "wheel") return wheel_answer(input);
    if (kind == "sdist") return sdist_answer(input);
    if (kind == "canon") return pk::canonicalize_name(input);
    if (kind == "req") return requirement_answer(input);
    if (kind == "pkgname") return package_name_answer(input);
    return "unknown kind " + kind;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::cerr << "usage: pkgkit_oracle_driver CORPUS.jsonl\n";
        return 2;
    }
    std::ifstream in(argv[1]);
    if (!in) {
        std::cerr << "cannot read " << argv[1] << "\n";
        return 2;
    }
    std::string line;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#') continue;
        const json entry = json::parse(line);
        const json out{{"result", answer(entry)}};
        std::cout << out.dump(-1, ' ', false, json::error_handler_t::replace) << '\n';
    }
    return 0;
}
