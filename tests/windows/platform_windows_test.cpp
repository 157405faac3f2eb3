// The Windows child processes, PATH search, per-user folder and console events, run under wine.
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <csignal>
#include <memory>
#include <filesystem>
#include <fstream>
#include <string>
#include <future>
#include <thread>
#include <vector>

#include "test_support.hpp"
#include "tessel_installer/errors.hpp"
#include "tessel_installer/platform/paths.hpp"
#include "tessel_installer/platform/process.hpp"
#include "tessel_installer/platform/signals.hpp"

namespace fs = std::filesystem;
namespace platform = tessel_installer::platform;
using platform::Process;
using platform::Stream;

namespace {

const platform::SpawnOptions kCaptureBoth{Stream::Capture, Stream::Capture};

// win_child.exe, the stand-in child, is built beside this program.
const std::string WIN_CHILD = [] {
    wchar_t buffer[MAX_PATH];
    const DWORD n = GetModuleFileNameW(nullptr, buffer, MAX_PATH);
    const auto text = fs::path(std::wstring(buffer, n)).replace_filename("win_child.exe").u8string();
    return std::string(text.begin(), text.end());
}();

std::string utf8(const fs::path& path) {
    const auto text = path.u8string();
    return std::string(text.begin(), text.end());
}

fs::path from_utf8(const std::string& text) { return fs::path(std::u8string(text.begin(), text.end())); }

std::vector<std::string> split_nul(const std::string& text) {
    std::vector<std::string> parts;
    std::size_t start = 0;
    for (std::size_t end; (end = text.find('\0', start)) != std::string::npos; start = end + 1) {
        parts.push_back(text.substr(start, end - start));
    }
    return parts;
}

class WindowsTest : public ::testing::Test {
protected:
    static void touch(const fs::path& file) { tessel_test::write_file(file, "MZ"); }
    const tessel_test::TempDir temp_{"tessel-win"};
    const fs::path dir_ = temp_.path();
};

TEST(WindowsProcess, ArgumentVectorsArriveUnchanged) {
    std::vector<std::string> many;
    for (int k = 0; k < 200; ++k) many.push_back("argument " + std::to_string(k));
    const std::vector<std::vector<std::string>> cases = {
        {"plain", "with blank", "with\ttab", "two  blanks"},
        {"say \"hi\"", "\"", "\"\"", "a\"b\"c"},
        {"back\\slash", "before quote\\\"", "two before quote\\\\\"", "end\\", "end blank \\\\"},
        {"", "x", "", ""},
        {"gr\xc3\xbc\xc3\x9f" "e", "\xe6\x97\xa5\xe6\x9c\xac", "C:\\Users\\\xc3\x89lodie\\venv"},
        {"&|<>^%PATH%", "--option=value with blank"},
        many,
    };
    for (const auto& arguments : cases) {
        std::vector<std::string> argv{WIN_CHILD, "args"};
        argv.insert(argv.end(), arguments.begin(), arguments.end());
        const auto done = platform::run(argv, kCaptureBoth);
        EXPECT_EQ(done.returncode, 0);
        EXPECT_EQ(split_nul(done.out), arguments);
    }
}

TEST(WindowsProcess, OneMebibyteOnBothStreamsAtOnce) {
    const auto done = platform::run({WIN_CHILD, "flood", "1048576"}, kCaptureBoth);
    EXPECT_EQ(done.returncode, 0);
    EXPECT_EQ(done.out.size(), 1048576u);
    EXPECT_EQ(done.err.size(), 1048576u);
}

TEST(WindowsProcess, DiscardedAndCapturedOutput) {
    const auto discarded = platform::run({WIN_CHILD, "print", "hello"}, {Stream::Discard, Stream::Discard});
    const auto captured = platform::run({WIN_CHILD, "print", "hello"}, kCaptureBoth);
    EXPECT_EQ(discarded.returncode, 0);
    EXPECT_EQ(discarded.out, "");
    EXPECT_EQ(captured.out, "hello");
}

TEST(WindowsProcess, ExitCodesAboveAByteAndCtrlCAreFailures) {
    const struct {
        const char* code;
        int expected;
    } cases[] = {
        {"0", 0}, {"1", 1}, {"256", 256}, {"9009", 9009},
        // A child ended by Ctrl-C ends with STATUS_CONTROL_C_EXIT: negative as an int, not 0.
        {"0xC000013A", static_cast<int>(0xC000013AU)},
    };
    for (const auto& c : cases) {
        const auto done = platform::run({WIN_CHILD, "exit", c.code}, kCaptureBoth);
        EXPECT_EQ(done.returncode, c.expected) << c.code;
    }
}

TEST(WindowsProcess, AProgramThatCannotStartNamesItself) {
    try {
        platform::run({"C:\\no\\such\\program.exe"});
        FAIL() << "no error";
    } catch (const tessel_installer::OSError& error) {
        EXPECT_NE(std::string(error.what()).find("cannot start C:\\no\\such\\program.exe"), std::string::npos)
            << error.what();
    }
}

// Ctrl-C reaches the child through the console by itself and is only recorded; Ctrl-Break and a
// closed console are termination requests, which the wait passes on to the child. The handler
// runs as the system runs it, on a thread of its own.
TEST(WindowsConsoleEvents, TerminationRequestsEndTheChildFirst) {
    const struct {
        DWORD event;
        int pending;
        int termination;
    } cases[] = {
        {CTRL_C_EVENT, SIGINT, 0},
        {CTRL_BREAK_EVENT, SIGTERM, SIGTERM},
        {CTRL_CLOSE_EVENT, SIGTERM, SIGTERM},
    };
    platform::install_interrupt_handlers();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.event);
        platform::clear_pending_interrupt();
        Process child = Process::spawn({WIN_CHILD, "wait"}, kCaptureBoth);
        auto returned = std::make_shared<std::atomic<bool>>(false);
        std::thread([event = c.event, returned] {
            platform::detail::console_control(event);
            *returned = true;
        }).detach();
        // The handler's event ends the timed wait at once; wait for it rather than for a time.
        while (platform::pending_interrupt() == 0) child.wait_for(std::chrono::milliseconds(50));
        EXPECT_EQ(platform::pending_interrupt(), c.pending);
        EXPECT_EQ(platform::pending_termination(), c.termination);
        if (c.termination != 0) {
            EXPECT_NE(child.wait(), 0);
            EXPECT_EQ(child.termination_passed_on(), c.termination);
        } else {
            EXPECT_FALSE(child.poll());
            EXPECT_EQ(child.termination_passed_on(), 0);
            child.send_signal(SIGTERM);
            child.wait();
        }
        // A close event must not let the process end before the run has: its handler stays.
        if (c.event == CTRL_CLOSE_EVENT) {
            EXPECT_FALSE(*returned);
        }
    }
    platform::clear_pending_interrupt();
}

// A log-off event reaches console programs under a service whenever any user logs off: it is
// handled (the handler returns TRUE at once) and records nothing.
TEST(WindowsConsoleEvents, ALogOffIsHandledAndIgnored) {
    platform::install_interrupt_handlers();
    platform::clear_pending_interrupt();
    auto handled = std::make_shared<std::promise<int>>();
    std::future<int> result = handled->get_future();
    std::thread([handled] { handled->set_value(platform::detail::console_control(CTRL_LOGOFF_EVENT)); })
        .detach();
    // The limit only bounds a failure: a handler that returns does so at once.
    ASSERT_EQ(result.wait_for(std::chrono::seconds(30)), std::future_status::ready);
    EXPECT_EQ(result.get(), TRUE);
    EXPECT_EQ(platform::pending_interrupt(), 0);
    EXPECT_EQ(platform::pending_termination(), 0);
}

TEST_F(WindowsTest, PathSearchTakesOnlyProgramsItCanStartSafely) {
    const fs::path batch = dir_ / "batch", store = dir_ / "Local" / "Microsoft" / "WindowsApps",
                   real = dir_ / "Python 3.12", other = dir_ / "other";
    touch(batch / "python3.bat");
    touch(batch / "python.cmd");
    touch(store / "python3.exe");
    touch(real / "python3.exe");
    touch(other / "tool.com");
    touch(other / "python3");  // no extension: CreateProcessW would look for python3.exe
    tessel_test::ScopedEnv env;
    env.set("PATHEXT", std::string(".COM;.EXE;.BAT;.CMD"));
    const std::string path = utf8(other) + ";" + utf8(batch) + ";" + utf8(store) + ";" + utf8(real);
    env.set("PATH", path);

    platform::PathSearchNotes notes;
    EXPECT_EQ(platform::find_on_path("python3", &notes), utf8(real / "python3.exe"));
    EXPECT_EQ(notes.not_started,
              (std::vector<std::string>{utf8(other / "python3"), utf8(batch / "python3.bat")}));
    EXPECT_EQ(notes.store_aliases, std::vector<std::string>{utf8(store / "python3.exe")});
    EXPECT_EQ(platform::find_on_path("python"), std::nullopt);  // only python.cmd
    EXPECT_EQ(platform::find_on_path("tool"), utf8(other / "tool.com"));
    EXPECT_EQ(platform::find_on_path("python3.exe"), utf8(real / "python3.exe"));
}

TEST_F(WindowsTest, UserDataDirIsBelowLocalAppData) {
    tessel_test::ScopedEnv env;
    const std::string local = utf8(dir_ / "\xc3\x89lodie \xe6\x97\xa5" / "AppData" / "Local");
    env.set("LOCALAPPDATA", local);
    EXPECT_EQ(platform::user_data_dir("Tessel-Installer", "Mirralune"),
              from_utf8(local) / "Mirralune" / "Tessel-Installer");
    EXPECT_FALSE(fs::exists(from_utf8(local)));  // computed, not created

    // Without the variable, the shell's known folder for local application data.
    env.set("LOCALAPPDATA", std::nullopt);
    const fs::path fallback = platform::user_data_dir("Tessel-Installer", "Mirralune");
    EXPECT_TRUE(fallback.is_absolute());
    EXPECT_EQ(fallback.filename(), "Tessel-Installer");
    EXPECT_EQ(fallback.parent_path().filename(), "Mirralune");
    EXPECT_EQ(fallback.parent_path().parent_path().filename(), "Local");
    EXPECT_EQ(fallback.parent_path().parent_path().parent_path().filename(), "AppData");
}

}  // namespace
