// Child processes: real children, real files in a fresh temporary directory per test.
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <poll.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "tessel_installer/errors.hpp"
#include "tessel_installer/platform/process.hpp"
#include "tessel_installer/platform/signals.hpp"
#include "test_support.hpp"

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using tessel_installer::OSError;
using tessel_installer::platform::find_on_path;
using tessel_installer::platform::Process;
using tessel_installer::platform::run;
using tessel_installer::platform::SpawnOptions;
using tessel_installer::platform::Stream;
using tessel_test::write_script;

namespace {

class ProcessTest : public ::testing::Test {
protected:
    const tessel_test::TempDir temp_{"tessel-proc"};
    const fs::path dir_ = temp_.path();
};

const SpawnOptions kCaptureBoth{Stream::Capture, Stream::Capture};

TEST_F(ProcessTest, CapturesBothStreamsAndTheExitCode) {
    auto done = run({"sh", "-c", "printf 'to out\\n'; printf 'to err' >&2; exit 3"}, kCaptureBoth);
    EXPECT_EQ(done.returncode, 3);
    EXPECT_EQ(done.out, "to out\n");
    EXPECT_EQ(done.err, "to err");
    EXPECT_EQ(done.args.front(), "sh");
}

TEST_F(ProcessTest, ArgumentsArriveUnchanged) {
    const std::vector<std::string> args{"a b", "", "\"quoted\"", "$HOME", "*", "back\\slash"};
    std::vector<std::string> argv{"sh", "-c", "for a in \"$@\"; do printf '[%s]' \"$a\"; done", "sh"};
    argv.insert(argv.end(), args.begin(), args.end());
    auto done = run(argv, {Stream::Capture, Stream::Inherit});
    EXPECT_EQ(done.out, "[a b][][\"quoted\"][$HOME][*][back\\slash]");
}

// Both streams carry more than a pipe holds, interleaved: reading one stream to its end before the
// other would leave the child blocked on a full pipe for ever.
TEST_F(ProcessTest, LargeOutputOnBothStreamsAtOnce) {
    const char* script =
        "import sys\n"
        "for i in range(24):\n"
        "    sys.stdout.write('o' * 65536); sys.stdout.flush()\n"
        "    sys.stderr.write('e' * 65536); sys.stderr.flush()\n";
    auto done = run({"/usr/bin/python3", "-c", script}, kCaptureBoth);
    ASSERT_EQ(done.returncode, 0) << done.err.substr(0, 200);
    EXPECT_EQ(done.out.size(), 24u * 65536u);
    EXPECT_EQ(done.err.size(), 24u * 65536u);
    EXPECT_EQ(done.out.find_first_not_of('o'), std::string::npos);
    EXPECT_EQ(done.err.find_first_not_of('e'), std::string::npos);
}

// The test's own standard output is redirected by GoogleTest to a file; an inheriting child writes
// into it, a discarding one writes nowhere.
TEST_F(ProcessTest, InheritAndDiscard) {
    struct Case {
        Stream out;
        std::string seen;
    };
    for (const Case& c : {Case{Stream::Inherit, "marker-line\n"}, Case{Stream::Discard, ""}}) {
        ::testing::internal::CaptureStdout();
        auto done = run({"sh", "-c", "echo marker-line"}, {c.out, Stream::Inherit});
        std::string seen = ::testing::internal::GetCapturedStdout();
        EXPECT_EQ(done.returncode, 0);
        EXPECT_EQ(seen, c.seen);
        EXPECT_EQ(done.out, "");  // nothing captured unless asked for
    }
}

TEST_F(ProcessTest, StandardInputIsTheNullDevice) {
    // cat would wait on our terminal for ever if it inherited our input.
    auto done = run({"sh", "-c", "cat; echo end"}, kCaptureBoth);
    EXPECT_EQ(done.out, "end\n");
}

TEST_F(ProcessTest, PollNeverBlocksAndSeesTheEnd) {
    fs::path fifo = dir_ / "gate";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    Process child = Process::spawn({"sh", "-c", "read line < \"$0\"; printf 'got %s' \"$line\"",
                                    fifo.string()},
                                   kCaptureBoth);
    EXPECT_FALSE(child.poll());
    EXPECT_FALSE(child.returncode().has_value());
    std::ofstream(fifo) << "go\n";  // opening blocks until the child opens its end: an event
    EXPECT_EQ(child.wait(), 0);
    EXPECT_TRUE(child.poll());
    EXPECT_EQ(child.returncode(), 0);
    EXPECT_EQ(child.stdout_text(), "got go");
}

TEST_F(ProcessTest, TimedWait) {
    // A child that ends: the wait reports its end (it would only return at the limit otherwise,
    // still true, but a broken wait would report false).
    Process quick = Process::spawn({"sh", "-c", "exit 4"});
    EXPECT_TRUE(quick.wait_for(60s));
    EXPECT_EQ(quick.returncode(), 4);

    // A child that sleeps: the limit passes first.
    Process sleeper = Process::spawn({"sleep", "30"});
    EXPECT_FALSE(sleeper.wait_for(20ms));
    EXPECT_FALSE(sleeper.returncode().has_value());
    sleeper.send_signal(SIGKILL);
    EXPECT_TRUE(sleeper.wait_for(60s));
    EXPECT_EQ(sleeper.returncode(), -SIGKILL);
}

TEST_F(ProcessTest, TimedWaitWithCapturedStreams) {
    Process child = Process::spawn({"sh", "-c", "printf partial; exec sleep 30"}, kCaptureBoth);
    EXPECT_FALSE(child.wait_for(20ms));
    child.send_signal(SIGTERM);
    EXPECT_TRUE(child.wait_for(60s));
    EXPECT_EQ(child.returncode(), -SIGTERM);
    EXPECT_EQ(child.stdout_text(), "partial");
}

TEST_F(ProcessTest, AChildEndedByASignalHasANegativeStatus) {
    struct Case {
        const char* script;
        int status;
    };
    for (const Case& c : {Case{"kill -KILL $$", -SIGKILL}, Case{"kill -TERM $$", -SIGTERM},
                          Case{"kill -INT $$", -SIGINT}, Case{"exit 0", 0}}) {
        EXPECT_EQ(run({"sh", "-c", c.script}).returncode, c.status) << c.script;
    }
}

// Whatever we ignore or block ourselves, a child starts with default dispositions and no mask.
TEST_F(ProcessTest, ChildrenGetDefaultSignalHandling) {
    struct sigaction ignore {}, old_action {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    ASSERT_EQ(::sigaction(SIGTERM, &ignore, &old_action), 0);
    sigset_t block, old_mask;
    sigemptyset(&block);
    sigaddset(&block, SIGINT);
    ASSERT_EQ(::sigprocmask(SIG_BLOCK, &block, &old_mask), 0);

    int term_status = run({"sh", "-c", "kill -TERM $$; exit 0"}).returncode;
    int int_status = run({"sh", "-c", "kill -INT $$; exit 0"}).returncode;

    ::sigprocmask(SIG_SETMASK, &old_mask, nullptr);
    ::sigaction(SIGTERM, &old_action, nullptr);
    EXPECT_EQ(term_status, -SIGTERM);
    EXPECT_EQ(int_status, -SIGINT);
}

TEST_F(ProcessTest, ChildrenLeadTheirOwnProcessGroup) {
    auto done = run({"sh", "-c", "echo $$; ps -o pgid= -p $$"}, {Stream::Capture, Stream::Discard});
    ASSERT_EQ(done.returncode, 0);
    const std::size_t line_end = done.out.find('\n');
    ASSERT_NE(line_end, std::string::npos);
    EXPECT_EQ(std::stol(done.out.substr(line_end + 1)), std::stol(done.out.substr(0, line_end)));
    EXPECT_NE(std::stol(done.out.substr(0, line_end)), static_cast<long>(::getpgrp()));
}

TEST_F(ProcessTest, UnstartablePrograms) {
    write_script(dir_ / "not executable", "exit 0", /*executable=*/false);
    struct Case {
        std::string program;
        std::string reason;
    };
    for (const Case& c : {Case{"tessel-no-such-program", "No such file or directory"},
                          Case{(dir_ / "missing" / "prog").string(), "No such file or directory"},
                          Case{(dir_ / "not executable").string(), "Permission denied"}}) {
        try {
            Process::spawn({c.program, "arg"});
            ADD_FAILURE() << c.program << " started";
        } catch (const OSError& e) {
            EXPECT_EQ(std::string(e.what()), "cannot start " + c.program + ": " + c.reason);
        }
    }
    EXPECT_THROW(Process::spawn({}), OSError);
}

TEST_F(ProcessTest, AProgramWhosePathHasABlank) {
    fs::path script = write_script(dir_ / "with blank" / "say hello", "printf 'hello %s' \"$1\"");
    auto done = run({script.string(), "there"}, kCaptureBoth);
    EXPECT_EQ(done.returncode, 0);
    EXPECT_EQ(done.out, "hello there");
}

TEST_F(ProcessTest, EnvironmentAndWorkingDirectoryAreInherited) {
    fs::path before = fs::current_path();
    fs::current_path(dir_);
    tessel_test::ScopedEnv env;
    env.set("TESSEL_PROC_TEST_VALUE", std::string("value with blanks"));
    auto done = run({"sh", "-c", "printf '%s|' \"$TESSEL_PROC_TEST_VALUE\"; pwd -P"}, kCaptureBoth);
    fs::current_path(before);
    EXPECT_EQ(done.out, "value with blanks|" + fs::canonical(dir_).string() + "\n");
}

// A signal that reaches us while we wait ends the timed wait early, so the caller can look at its
// interrupt flag; the child is left running.
TEST_F(ProcessTest, ATimedWaitReturnsWhenWeAreInterrupted) {
    const tessel_test::InterruptHandlers handlers;

    // The child signals us once we are asleep inside the wait (state S in /proc), so the signal
    // lands during the wait and not before it. It ignores the interrupt that the wait passes on.
    if (!fs::exists("/proc/self/stat")) GTEST_SKIP() << "no /proc to see our state";
    Process child = Process::spawn(
        {"sh", "-c",
         "trap '' INT; "
         "while [ \"$(cut -d' ' -f3 /proc/$PPID/stat)\" != S ]; do :; done; kill -INT $PPID; "
         "exec sleep 30"});
    const bool ended = child.wait_for(60s);
    const int pending = tessel_installer::platform::pending_interrupt();
    const bool still_running = !child.poll();
    child.send_signal(SIGKILL);
    child.wait();
    EXPECT_FALSE(ended);
    EXPECT_EQ(pending, SIGINT);
    EXPECT_TRUE(still_running);
}

TEST_F(ProcessTest, FindOnPath) {
    write_script(dir_ / "first" / "tool", "exit 0");
    write_script(dir_ / "second" / "tool", "exit 0");
    write_script(dir_ / "second" / "other", "exit 0");
    write_script(dir_ / "first" / "other", "exit 0", /*executable=*/false);
    fs::create_directories(dir_ / "first" / "adir");
    fs::create_directories(dir_ / "second" / "adir");
    fs::create_symlink(dir_ / "second" / "tool", dir_ / "second" / "linked");

    tessel_test::ScopedEnv env;
    env.set("PATH", (dir_ / "first").string() + ":" + (dir_ / "second").string());
    auto tool = find_on_path("tool");
    auto other = find_on_path("other");
    auto linked = find_on_path("linked");
    auto adir = find_on_path("adir");
    auto missing = find_on_path("tessel-no-such-program");
    auto with_slash = find_on_path("first/tool");

    EXPECT_EQ(tool, (dir_ / "first" / "tool").string());
    EXPECT_EQ(other, (dir_ / "second" / "other").string());  // a non-executable file is skipped
    EXPECT_EQ(linked, (dir_ / "second" / "linked").string());  // the link itself, not its target
    EXPECT_EQ(adir, std::nullopt);
    EXPECT_EQ(missing, std::nullopt);
    EXPECT_EQ(with_slash, std::nullopt);
}

TEST_F(ProcessTest, ARelativePathEntryIsMadeAbsolute) {
    write_script(dir_ / "bin" / "tool", "exit 0");
    fs::path before = fs::current_path();
    fs::current_path(dir_);
    tessel_test::ScopedEnv env;
    env.set("PATH", std::string("bin"));
    auto tool = find_on_path("tool");
    fs::current_path(before);
    EXPECT_EQ(tool, (dir_ / "bin" / "tool").string());
}

}  // namespace

// Whether the process is gone: its pidfd turns readable when it has ended, collected or not. The
// limit only bounds a failure; an ended process answers at once.
bool process_ends(long pid) {
    const int fd = static_cast<int>(::syscall(SYS_pidfd_open, static_cast<pid_t>(pid), 0));
    if (fd < 0) return errno == ESRCH;
    pollfd entry{fd, POLLIN, 0};
    const int ready = ::poll(&entry, 1, 60000);
    ::close(fd);
    return ready == 1;
}

// Every interrupt recorded by our handler is passed on to the child's process group: SIGINT
// first; a termination request then SIGTERM and SIGKILL after grace periods. Whatever the child
// leaves running in its group when it ends is ended too.
TEST_F(ProcessTest, AWaitPassesInterruptsOnToTheChildsGroup) {
    namespace platform = tessel_installer::platform;
    struct Case {
        const char* name;
        int pending;  // the signal we raise before waiting, or 0
        const char* script;
        int returncode;
        int passed_on;         // the termination request the child remembers
        const char* heard;     // what the child wrote after "ready"
    };
    const Case cases[] = {
        {"term: an interrupt first", SIGTERM, "echo ready; exec sleep 30", -SIGINT, SIGTERM, ""},
        {"hang-up: an interrupt first", SIGHUP, "echo ready; exec sleep 30", -SIGINT, SIGHUP, ""},
        {"ctrl-c is passed on", SIGINT, "echo ready; exec sleep 30", -SIGINT, 0, ""},
        {"term: SIGTERM after a grace period", SIGTERM,
         "trap 'echo int' INT; echo ready; while :; do sleep 0.05; done", -SIGTERM, SIGTERM,
         "int\n"},
        {"term: SIGKILL at last", SIGTERM,
         "trap '' INT TERM; echo ready; while :; do sleep 0.05; done", -SIGKILL, SIGTERM, ""},
        {"a grandchild that ignores ctrl-c is ended with its parent", SIGINT,
         "sleep 30 & echo ready; echo $!; wait", -SIGINT, 0, "pid"},
        {"no interrupt: the child's own status", 0, "echo ready; exit 3", 3, 0, ""},
    };
    const tessel_test::InterruptHandlers handlers;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        platform::clear_pending_interrupt();
        Process child = Process::spawn({"sh", "-c", c.script}, {platform::Stream::Capture});
        // The child is interrupted once it is ready to hear it.
        while (child.stdout_text().find('\n') == std::string::npos && !child.poll()) {
            child.wait_for(50ms);
        }
        if (c.pending != 0) {
            ASSERT_EQ(std::raise(c.pending), 0);
        }
        // Rounds as the callers make them, up to a minute.
        bool ended = false;
        for (int round = 0; !ended && round < 300; ++round) {
            ended = platform::wait_passing_on_termination(child, 200ms);
        }
        if (!ended) child.send_signal(SIGKILL);
        child.wait();
        EXPECT_TRUE(ended);
        EXPECT_EQ(child.returncode(), c.returncode);
        EXPECT_EQ(child.termination_passed_on(), c.passed_on);
        const std::string heard = child.stdout_text().substr(std::string("ready\n").size());
        if (std::string_view(c.heard) == "pid") {
            ASSERT_FALSE(heard.empty());
            EXPECT_TRUE(process_ends(std::stol(heard)));
        } else {
            EXPECT_EQ(heard, c.heard);
        }
    }
}

namespace {

// The version look-up and the interpreter queries wait through run(): a termination request
// recorded before or during that wait reaches their child too, as an interrupt first.
TEST(ProcessRun, PassesATerminationRequestOnToTheChild) {
    namespace platform = tessel_installer::platform;
    const tessel_test::InterruptHandlers handlers;
    for (const int request : {SIGTERM, SIGHUP}) {
        platform::clear_pending_interrupt();
        ASSERT_EQ(std::raise(request), 0);
        const auto done = platform::run({"sh", "-c", "exec sleep 30"});
        EXPECT_EQ(done.returncode, -SIGINT);
    }
}

}  // namespace
