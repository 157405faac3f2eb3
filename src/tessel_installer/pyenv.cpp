// The target Python environment. Every fact comes from one short interpreter child per public
// operation, running a small inline script.
//
// The scripts run with the interpreter's ordinary start-up, not with -I: isolated mode would drop
// PYTHONPATH and the user site directory, which belong to the environment the user runs in (a
// venv is kept either way, since it comes from the executable's location). What -c adds that the
// environment does not have is the working directory at the head of sys.path; each script removes
// it before importing anything, so a stray package or module in the user's folder neither shows up
// in the inventory nor shadows the standard library.
#include "tessel_installer/pyenv.hpp"

#include <cstdlib>
#include <filesystem>
#include <string_view>

#include "tessel_installer/errors.hpp"
#include "tessel_installer/platform/environment.hpp"
#include "tessel_installer/platform/process.hpp"
#include "tessel_installer/terminal_text.hpp"

namespace tessel_installer::pyenv {
namespace {

namespace fs = std::filesystem;

// Drops the working directory that -c puts first on sys.path.
constexpr std::string_view kPrologue =
    "import sys\n"
    "if sys.path and sys.path[0] == '':\n"
    "    del sys.path[0]\n";

// Each distribution as two length-prefixed UTF-8 fields, "LEN:BYTES" for Name then Version, so no
// character of a name or version can break the framing. A distribution without a Name (a broken
// or empty metadata directory) has nothing to be listed or keyed by and is left out; one without a
// Version gets an empty version.
//
// Importing importlib.metadata costs more than everything else the child does, so the usual layout
// is read by hand, giving what importlib.metadata would: the standard path finder alone offers
// distributions; each sys.path entry in order is a directory or absent; its *.dist-info and
// *.egg-info directories in listing order (newer interpreters group equal normalised names within
// a directory, so no two may share one; older ones also take names with the suffix inside); the
// whole text of METADATA (PKG-INFO after it for an .egg-info), strict UTF-8 with universal
// newlines, since importlib.metadata decodes it all; header fields as the email parser reads simple
// ones: the first occurrence of a name in any case, blanks and tabs before the value dropped, the
// rest kept. Anything else (an empty entry, an .egg or zip archive, an egg-info file, a folded or
// malformed header line, no Name, text that is not UTF-8, any error) is left to importlib.metadata.
// TESSEL_TEST_INVENTORY_READER lets the tests see which way was taken: "direct" fails the child
// where the layout is left to importlib.metadata, "importlib" skips the reading by hand.
constexpr std::string_view kInventoryScript =
    "import os\n"
    "def fields(entry, legacy):\n"
    "    for leaf in ('METADATA', 'PKG-INFO') if legacy else ('METADATA',):\n"
    "        try:\n"
    "            with open(os.path.join(entry, leaf), encoding='utf-8') as f:\n"
    "                text = f.read()\n"
    "        except FileNotFoundError:\n"
    "            continue\n"
    "        if not text:\n"
    "            continue\n"
    "        found = {}\n"
    "        for line in text.partition('\\n\\n')[0].split('\\n'):\n"
    "            if not line:\n"
    "                break\n"
    "            key, colon, value = line.partition(':')\n"
    "            if not (colon and key and key.isascii() and key.isprintable()) or ' ' in key:\n"
    "                return None\n"
    "            found.setdefault(key.lower(), value.lstrip(' \\t'))\n"
    "        return found\n"
    "    return None\n"
    "def read_by_hand():\n"
    "    if not all(getattr(f, 'find_distributions', None) is None or f.__module__ in\n"
    "               ('_frozen_importlib_external', 'importlib._bootstrap_external')\n"
    "               for f in sys.meta_path):\n"
    "        return None\n"
    "    dists = []\n"
    "    for p in sys.path:\n"
    "        if not p or '.egg' in p.lower():\n"
    "            return None\n"
    "        try:\n"
    "            names = os.listdir(p)\n"
    "        except FileNotFoundError:\n"
    "            continue\n"
    "        keys = set()\n"
    "        for e in names:\n"
    "            low = e.lower()\n"
    "            if not low.endswith(('.dist-info', '.egg-info')):\n"
    "                if '.dist-info' in low or '.egg-info' in low:\n"
    "                    return None\n"
    "                continue\n"
    "            key = low.rpartition('.')[0].partition('-')[0].replace('.', '').replace('_', '')\n"
    "            if not key or key in keys or '\\n' in low:\n"
    "                return None\n"
    "            keys.add(key)\n"
    "            m = fields(os.path.join(p, e), low.endswith('.egg-info'))\n"
    "            if m is None or 'name' not in m:\n"
    "                return None\n"
    "            dists.append((m['name'], m.get('version')))\n"
    "    return dists\n"
    "reader = os.environ.get('TESSEL_TEST_INVENTORY_READER', '')\n"
    "try:\n"
    "    dists = None if reader == 'importlib' else read_by_hand()\n"
    "except Exception:\n"
    "    dists = None\n"
    "if dists is None:\n"
    "    if reader == 'direct':\n"
    "        sys.exit('the layout was left to importlib.metadata')\n"
    "    from importlib.metadata import distributions\n"
    "    dists = []\n"
    "    for d in distributions():\n"
    "        try:\n"
    "            m = d.metadata\n"
    "            n = m.get('Name') if m is not None else None\n"
    "            v = m.get('Version') if m is not None else None\n"
    "        except Exception:\n"
    "            continue\n"
    "        if n is not None:\n"
    "            dists.append((n, v))\n"
    "w = sys.stdout.buffer.write\n"
    "for n, v in dists:\n"
    "    for t in (n, '' if v is None else v):\n"
    "        b = str(t).encode('utf-8', 'surrogateescape')\n"
    "        w(b'%d:' % len(b) + b)\n"
    "sys.stdout.flush()\n";

// Thirteen NUL-separated fields: seven about the interpreter and pip, then six about the
// environment for the pre-flight and the report (the stdlib path and its EXTERNALLY-MANAGED file,
// whether this is a venv, site-packages and whether it, or the nearest folder above it, can be
// written, and sys.prefix). pip's version comes from its installed metadata: importing pip
// would cost far more than the rest of the query. Importing importlib.metadata still costs more
// than everything else together, so the usual layout is read by hand: the first sys.path
// directory that holds a metadata directory of pip, when it holds exactly one and of the
// .dist-info kind, the one importlib.metadata would pick too. Anything else (a legacy .egg-info,
// two candidates, a zip archive on sys.path, a finder of distributions other than the standard
// one) is left to importlib.metadata. Interpreters without it report no pip.
constexpr std::string_view kFactsScript =
    "import os, platform, sysconfig\n"
    "def pip_version():\n"
    "    fast = all(getattr(f, 'find_distributions', None) is None or f.__module__ in\n"
    "               ('_frozen_importlib_external', 'importlib._bootstrap_external')\n"
    "               for f in sys.meta_path)\n"
    "    found = None\n"
    "    for p in (sys.path if fast else ()):\n"
    "        try:\n"
    "            names = os.listdir(p)\n"
    "        except NotADirectoryError:\n"
    "            fast = False\n"
    "            break\n"
    "        except OSError:\n"
    "            continue\n"
    "        hits = [e for e in names if e.lower().endswith(('.dist-info', '.egg-info')) and\n"
    "                e.rpartition('.')[0].partition('-')[0].lower().replace('-', '_') == 'pip']\n"
    "        if hits:\n"
    "            if len(hits) == 1 and hits[0].lower().endswith('.dist-info'):\n"
    "                found = os.path.join(p, hits[0], 'METADATA')\n"
    "            else:\n"
    "                fast = False\n"
    "            break\n"
    "    if fast and found is None:\n"
    "        return ''\n"
    "    if fast:\n"
    "        try:\n"
    "            with open(found, encoding='utf-8') as f:\n"
    "                for line in f:\n"
    "                    if line in ('\\n', '\\r\\n'):\n"
    "                        break\n"
    "                    if line[:8].lower() == 'version:':\n"
    "                        return line[8:].lstrip(' \\t').rstrip('\\r\\n')\n"
    "        except (OSError, ValueError):\n"
    "            pass\n"
    "    try:\n"
    "        from importlib.metadata import version, PackageNotFoundError\n"
    "    except ImportError:\n"
    "        return ''\n"
    "    try:\n"
    "        return version('pip') or ''\n"
    "    except PackageNotFoundError:\n"
    "        return ''\n"
    "fields = [sys.platform, str(sys.version_info[0]), str(sys.version_info[1]),\n"
    "          platform.python_version(), str(sys.maxsize), sysconfig.get_platform(),\n"
    "          pip_version()]\n"
    "paths = sysconfig.get_paths()\n"
    "def writable(path):\n"
    "    while path and not os.path.exists(path):\n"
    "        parent = os.path.dirname(path)\n"
    "        if parent == path:\n"
    "            break\n"
    "        path = parent\n"
    "    return bool(path) and os.access(path, os.W_OK)\n"
    "stdlib = paths.get('stdlib', '')\n"
    "venv = sys.prefix != getattr(sys, 'base_prefix', sys.prefix) or hasattr(sys, 'real_prefix')\n"
    "marker = bool(stdlib) and os.path.isfile(os.path.join(stdlib, 'EXTERNALLY-MANAGED'))\n"
    "purelib = paths.get('purelib', '')\n"
    "fields += [stdlib, '1' if marker else '0', '1' if venv else '0', purelib,\n"
    "           '1' if writable(purelib) else '0', sys.prefix]\n"
    "sys.stdout.buffer.write('\\0'.join(fields).encode('utf-8', 'surrogateescape'))\n"
    "sys.stdout.flush()\n";

// The platform part of every supported tag, first occurrence first, one per line. The packaging
// library that pip carries answers without importing pip itself.
constexpr std::string_view kTagsScript =
    "try:\n"
    "    from pip._vendor.packaging import tags\n"
    "except ImportError:\n"
    "    from packaging import tags\n"
    "seen = set()\n"
    "out = []\n"
    "for t in tags.sys_tags():\n"
    "    if t.platform not in seen:\n"
    "        seen.add(t.platform)\n"
    "        out.append(t.platform)\n"
    "sys.stdout.write('\\n'.join(out))\n"
    "sys.stdout.flush()\n";

std::string env_value(const char* name) {
    return platform::environment_variable(name).value_or(std::string());
}

#if defined(_WIN32)
constexpr const char* kVenvPython = "Scripts\\python.exe";
constexpr const char* kCondaPython = "python.exe";
#else
constexpr const char* kVenvPython = "bin/python";
constexpr const char* kCondaPython = "bin/python";
#endif

std::string under(const std::string& prefix, const char* relative) {
    // Absolute, but links are not followed: a venv's python links to a base interpreter outside
    // the venv, and starting that one would leave the venv.
    // Built from UTF-8 and returned as UTF-8: on Windows string() would go through the ANSI code
    // page and lose letters it has none for.
    const fs::path path = fs::absolute(fs::path(std::u8string(prefix.begin(), prefix.end()))) /
                          fs::path(relative);
    const std::u8string text = path.u8string();
    return std::string(text.begin(), text.end());
}

// Runs one inline script in the target interpreter and returns its standard output; a child that
// fails is reported with its command, status and error output.
std::string query(std::string_view what, std::string_view script) {
    const std::string python = interpreter_path();
    std::string code(kPrologue);
    code += script;
    auto done = platform::run({python, "-c", code},
                              {platform::Stream::Capture, platform::Stream::Capture});
    if (done.returncode != 0) {
        std::string err = done.err;
        while (!err.empty() && (err.back() == '\n' || err.back() == '\r')) err.pop_back();
        // The child's words go into a one-line message: rendered, so a NUL cannot cut it short
        // and a control sequence cannot reach the terminal.
        throw RuntimeError("the query of " + std::string(what) + " failed: " +
                           text::terminal_safe(python) + " -c <script> exited with status " +
                           std::to_string(done.returncode) +
                           (err.empty() ? std::string() : ": " + text::terminal_safe(err)));
    }
    return done.out;
}

[[noreturn]] void unreadable(std::string_view what, const std::string& output) {
    constexpr std::size_t kShown = 200;
    throw RuntimeError("the query of " + std::string(what) + " gave unreadable output from " +
                       text::terminal_safe(interpreter_path()) + ": " +
                       text::terminal_safe(output.size() > kShown ? output.substr(0, kShown) + "..."
                                                                  : output));
}

}  // namespace

std::string interpreter_path() {
    if (std::string venv = env_value("VIRTUAL_ENV"); !venv.empty()) return under(venv, kVenvPython);
    if (std::string conda = env_value("CONDA_PREFIX"); !conda.empty()) {
        return under(conda, kCondaPython);
    }
    platform::PathSearchNotes notes;
    for (const char* name : {"python3", "python"}) {
        if (auto found = platform::find_on_path(name, &notes)) return *found;
    }
    // A Windows machine without Python often still has the Store's alias on PATH: say that this
    // is what was found, or the user would wonder why "python" in their prompt seems to work.
    if (!notes.store_aliases.empty()) {
        throw RuntimeError("no Python interpreter found: " +
                           text::terminal_safe(notes.store_aliases.front()) +
                           " is the Microsoft Store alias, not an installed Python");
    }
    throw RuntimeError(
        "no Python interpreter found: activate the environment to install into, or put python3 "
        "on PATH");
}

std::vector<Distribution> installed_distributions() {
    constexpr std::string_view what = "installed distributions";
    const std::string out = query(what, kInventoryScript);
    std::vector<Distribution> result;
    std::size_t pos = 0;
    auto field = [&](std::string& into) {
        std::size_t colon = out.find(':', pos);
        if (colon == std::string::npos || colon == pos || colon - pos > 9) unreadable(what, out);
        std::size_t length = 0;
        for (std::size_t i = pos; i < colon; ++i) {
            if (out[i] < '0' || out[i] > '9') unreadable(what, out);
            length = length * 10 + static_cast<std::size_t>(out[i] - '0');
        }
        if (out.size() - (colon + 1) < length) unreadable(what, out);
        into.assign(out, colon + 1, length);
        pos = colon + 1 + length;
    };
    while (pos < out.size()) {
        Distribution dist;
        field(dist.name);
        if (pos >= out.size()) unreadable(what, out);
        field(dist.version);
        result.push_back(std::move(dist));
    }
    return result;
}

InterpreterFacts interpreter_facts() {
    constexpr std::string_view what = "interpreter facts";
    const std::string out = query(what, kFactsScript);
    const auto fields = text::split(out, '\0');
    if (fields.size() != 13) unreadable(what, out);
    auto flag = [&](std::string_view field) {
        if (field != "0" && field != "1") unreadable(what, out);
        return field == "1";
    };
    auto number = [&](std::string_view field) {
        if (field.empty() || field.size() > 20 ||
            field.find_first_not_of("0123456789") != std::string_view::npos) {
            unreadable(what, out);
        }
        return std::strtoull(std::string(field).c_str(), nullptr, 10);
    };
    InterpreterFacts facts;
    facts.platform_id = fields[0];
    facts.major = static_cast<int>(number(fields[1]) & 0xffff);
    facts.minor = static_cast<int>(number(fields[2]) & 0xffff);
    facts.version_text = fields[3];
    facts.maxsize = number(fields[4]);
    facts.build_platform = fields[5];
    facts.pip_version = fields[6];
    facts.stdlib_path = fields[7];
    facts.externally_managed = flag(fields[8]);
    facts.in_virtual_env = flag(fields[9]);
    facts.purelib_path = fields[10];
    facts.purelib_writable = flag(fields[11]);
    facts.prefix = fields[12];
    return facts;
}

std::vector<std::string> supported_platform_tags() {
    const std::string out = query("supported tags", kTagsScript);
    std::vector<std::string> tags;
    for (std::string_view tag : text::split(out, '\n')) {
        if (tag.ends_with('\r')) tag.remove_suffix(1);
        if (!tag.empty()) tags.emplace_back(tag);
    }
    return tags;
}

}  // namespace tessel_installer::pyenv
