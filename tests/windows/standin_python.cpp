// A stand-in for the target interpreter in the Windows end-to-end tests (there is no Windows
// Python here), installed as VENV\Scripts\python.exe. It reads standin.json beside itself:
//   "facts":     the interpreter facts (platform, major, minor, version, maxsize, build platform,
//                pip version, then the environment's: stdlib, externally managed, venv,
//                site-packages, writable, prefix)
//   "tags":      the supported platform tags
//   "installed": {name: version}, the environment's distributions; pip install and uninstall
//                change it, so the program sees what it did
//   "versions":  {name: [newest, ...]}, what "pip index versions" reports
//   "status":    {name: exit status} of pip actions naming that package (default 0)
//   "sleep_ms":  how long each pip action takes
// Every pip command line is appended to pip-calls.jsonl beside it, as
// {"argv": [...], "command_line": "..."}: the arguments as the C runtime split them and the
// command line as it came.
#include <windows.h>

#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <nlohmann/json.hpp>
#include <set>
#include <string>
#include <vector>

namespace fs = std::filesystem;
using json = nlohmann::ordered_json;

namespace {

std::string utf8(const std::wstring& text) {
    const auto bytes = fs::path(text).u8string();
    return std::string(bytes.begin(), bytes.end());
}

fs::path here() {
    wchar_t buffer[MAX_PATH];
    const DWORD n = GetModuleFileNameW(nullptr, buffer, MAX_PATH);
    return fs::path(std::wstring(buffer, n)).parent_path();
}

void out(const std::string& bytes, FILE* stream = stdout) { std::fwrite(bytes.data(), 1, bytes.size(), stream); }

json load(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    return json::parse(std::string(std::istreambuf_iterator<char>(in), {}));
}

void save(const fs::path& file, const json& value) {
    std::ofstream(file, std::ios::binary | std::ios::trunc) << value.dump(2);
}

// The package a pip argument names: the text before any version or extra.
std::string name_of(const std::string& spec) { return spec.substr(0, spec.find_first_of("=<>![;~ ")); }

int pip(json& config, const fs::path& config_file, const std::vector<std::string>& args) {
    // Options that take the next argument as their value.
    static const std::set<std::string> valued{"--index-url", "-i", "--extra-index-url", "--trusted-host",
                                              "-d", "--dest", "--platform", "--python-version",
                                              "--find-links", "-f", "--only-binary", "--no-binary"};
    std::vector<std::string> packages;
    for (std::size_t k = 1; k < args.size(); ++k) {
        if (args[k].rfind("-", 0) == 0) {
            if (valued.count(args[k])) ++k;
            continue;
        }
        if (args[0] == "index" && k == 1) continue;  // "versions"
        packages.push_back(args[k]);
    }
    if (args[0] == "index") {
        if (packages.empty()) return 2;
        const std::string name = packages.front();
        const json versions = config["versions"].value(name, json::array());
        if (versions.empty()) {
            out("ERROR: No matching distribution found for " + name + "\n", stderr);
            return 1;
        }
        std::string line = name + " (" + versions[0].get<std::string>() + ")\nAvailable versions: ";
        for (std::size_t k = 0; k < versions.size(); ++k) line += (k ? ", " : "") + versions[k].get<std::string>();
        out(line + "\n");
        return 0;
    }
    if (const int ms = config.value("sleep_ms", 0); ms > 0) Sleep(static_cast<DWORD>(ms));
    int status = 0;
    for (const auto& spec : packages) status = std::max(status, config["status"].value(name_of(spec), 0));
    if (status != 0) return status;
    for (const auto& spec : packages) {
        const std::string name = name_of(spec);
        if (args[0] == "install") {
            const auto pin = spec.find("==");
            config["installed"][name] = pin == std::string::npos ? "1.0.0" : spec.substr(pin + 2);
        } else if (args[0] == "uninstall") {
            config["installed"].erase(name);
        }
    }
    save(config_file, config);
    return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    _setmode(_fileno(stdout), _O_BINARY);
    _setmode(_fileno(stderr), _O_BINARY);
    std::vector<std::string> args;
    for (int k = 0; k < argc; ++k) args.push_back(utf8(argv[k]));
    const fs::path config_file = here() / "standin.json";
    json config = load(config_file);

    if (args.size() >= 3 && args[1] == "-c") {
        const std::string& script = args[2];
        if (script.find("def fields(entry, legacy)") != std::string::npos) {
            for (const auto& [name, version] : config["installed"].items()) {
                const std::string v = version.get<std::string>();
                out(std::to_string(name.size()) + ":" + name + std::to_string(v.size()) + ":" + v);
            }
            return 0;
        }
        if (script.find("platform.python_version()") != std::string::npos) {
            std::string text;
            for (const auto& fact : config["facts"]) text += (text.empty() ? "" : std::string(1, '\0')) + fact.get<std::string>();
            out(text);
            return 0;
        }
        if (script.find("sys_tags()") != std::string::npos) {
            std::string text;
            for (const auto& tag : config["tags"]) text += (text.empty() ? "" : "\n") + tag.get<std::string>();
            out(text);
            return 0;
        }
    }
    if (args.size() >= 4 && args[1] == "-m" && args[2] == "pip") {
        json call{{"argv", args}, {"command_line", utf8(GetCommandLineW())}};
        std::ofstream(here() / "pip-calls.jsonl", std::ios::binary | std::ios::app) << call.dump() << "\n";
        return pip(config, config_file, std::vector<std::string>(args.begin() + 3, args.end()));
    }
    out("stand-in python.exe: not a query it knows\n", stderr);
    return 2;
}
