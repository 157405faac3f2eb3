// Child processes on Linux and macOS, started with posix_spawnp.
//
// A captured stream is a pipe whose read end we keep non-blocking. Both pipes are drained in the
// same poll() loop, so a child that writes a lot to one stream while we wait on the other can never
// fill a pipe and stall. On Linux a pidfd joins that loop, so a timed wait returns the moment the
// child ends; elsewhere the wait falls back to waitpid(WNOHANG) in short steps.
#include "tessel_installer/platform/process.hpp"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>
#if defined(__linux__)
#include <sys/syscall.h>
#endif

#include <algorithm>
#include <chrono>
#include <initializer_list>
#include <cerrno>
#include <cstring>
#include <string_view>
#include <utility>

#include "tessel_installer/errors.hpp"
#include "tessel_installer/platform/descriptor.hpp"
#include "tessel_installer/platform/process_state.hpp"
#include "tessel_installer/platform/signal_state.hpp"
#include "tessel_installer/platform/signals.hpp"

extern char** environ;

namespace tessel_installer::platform {
namespace {

[[noreturn]] void fail(const std::string& what, int code) {
    throw OSError(what + ": " + std::strerror(code));
}

void check(int rc, const std::string& program) {
    if (rc != 0) fail("cannot start " + program, rc);
}

// A posix_spawn attribute or file-action object, destroyed whatever happens.
template <typename T, auto init, auto destroy>
class SpawnObject {
public:
    SpawnObject() {
        if (int rc = init(&object_); rc != 0) fail("cannot prepare a child process", rc);
    }
    ~SpawnObject() { destroy(&object_); }
    SpawnObject(const SpawnObject&) = delete;
    SpawnObject& operator=(const SpawnObject&) = delete;
    T* get() noexcept { return &object_; }

private:
    T object_;
};
using SpawnAttr = SpawnObject<posix_spawnattr_t, posix_spawnattr_init, posix_spawnattr_destroy>;
using FileActions = SpawnObject<posix_spawn_file_actions_t, posix_spawn_file_actions_init,
                                posix_spawn_file_actions_destroy>;

// A pipe whose read end stays with us (close-on-exec, non-blocking) and whose write end becomes
// the child's stream.
struct Pipe {
    UniqueFd read_end;
    UniqueFd write_end;
};

Pipe make_pipe(const std::string& program) {
    int fds[2];
    if (::pipe(fds) != 0) fail("cannot start " + program, errno);
    Pipe p{UniqueFd(fds[0]), UniqueFd(fds[1])};
    // Both ends close on exec: the child gets the write end through dup2, which clears the flag on
    // the duplicate, and no other child we start may keep a copy that would hold the pipe open.
    for (int fd : {fds[0], fds[1]}) {
        if (::fcntl(fd, F_SETFD, FD_CLOEXEC) != 0) fail("cannot start " + program, errno);
    }
    const int flags = ::fcntl(fds[0], F_GETFL);
    if (flags < 0 || ::fcntl(fds[0], F_SETFL, flags | O_NONBLOCK) != 0) {
        fail("cannot start " + program, errno);
    }
    return p;
}

UniqueFd open_pidfd(pid_t pid) noexcept {
#if defined(__linux__) && defined(SYS_pidfd_open)
    long fd = ::syscall(SYS_pidfd_open, pid, 0);
    if (fd >= 0) {
        ::fcntl(static_cast<int>(fd), F_SETFD, FD_CLOEXEC);
        return UniqueFd(static_cast<int>(fd));
    }
#else
    (void)pid;
#endif
    return UniqueFd();  // kernel without pidfds: the timed wait polls waitpid instead
}

int decode_status(int status) noexcept {
    if (WIFEXITED(status)) return WEXITSTATUS(status);
    if (WIFSIGNALED(status)) return -WTERMSIG(status);
    return 1;  // stopped or continued children are not reaped as ended
}

constexpr int kFallbackStepMs = 10;

// How long a child may take to end after SIGINT, and after SIGTERM, on a termination request.
constexpr std::chrono::seconds kGracePeriod(3);

// A child on POSIX: returncode is set when it is reaped and every capture pipe is at end of file.
struct PosixChild final : Process::Impl {
    UniqueFd out_fd;  // read ends of the capture pipes, closed at end of file
    UniqueFd err_fd;
    UniqueFd pidfd;
    std::optional<int> reaped;  // status once waitpid has collected the child

    pid_t child_pid() const noexcept { return static_cast<pid_t>(pid); }

    // Passing interrupts on to the child's process group. The child leads a group of its own, so
    // neither the terminal's Ctrl-C nor a termination request sent to us reaches it or the
    // processes it started (a build step of pip's): every interrupt goes on from here, in steps.
    // The first is SIGINT, which lets pip roll a half-done change back; each further interrupt,
    // or for a termination request the end of a grace period, takes the next step: SIGTERM, then
    // SIGKILL.
    int steps_taken = 0;
    unsigned long count_at_step = 0;
    std::optional<std::chrono::steady_clock::time_point> next_step_at;

    void pass_on_interrupts() {
        if (reaped || steps_taken >= 3 || pending_interrupt() == 0 || interrupts_shielded()) return;
        const unsigned long count = interrupt_count();
        const auto now = std::chrono::steady_clock::now();
        const bool due = steps_taken == 0 || count != count_at_step ||
                         (next_step_at && now >= *next_step_at);
        if (!due) return;
        static constexpr int kSteps[] = {SIGINT, SIGTERM, SIGKILL};
        const int signal_number = kSteps[steps_taken++];
        count_at_step = count;
        if (const int request = pending_termination(); request != 0) {
            if (passed_on == 0) passed_on = request;
            next_step_at = now + kGracePeriod;
        } else {
            next_step_at.reset();
        }
        if (::killpg(child_pid(), signal_number) != 0 && errno != ESRCH && errno != EPERM) {
            fail("cannot signal " + args.front(), errno);
        }
    }

    // How long a wait may sleep before the next step is due (-1: no step is due by time).
    int until_next_step(int timeout_ms) const {
        if (!next_step_at || steps_taken >= 3 || reaped) return timeout_ms;
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(
            *next_step_at - std::chrono::steady_clock::now());
        const int ms = static_cast<int>(std::max<long long>(left.count(), 0));
        return timeout_ms < 0 ? ms : std::min(timeout_ms, ms);
    }

    bool pipes_open() const noexcept { return static_cast<bool>(out_fd) || static_cast<bool>(err_fd); }

    // Reads what a pipe holds now; closes it at end of file.
    void drain(UniqueFd& fd, std::string& text) {
        char buffer[65536];
        while (fd) {
            ssize_t n = ::read(fd.get(), buffer, sizeof buffer);
            if (n > 0) {
                text.append(buffer, static_cast<std::size_t>(n));
            } else if (n == 0) {
                fd.reset();
            } else if (errno == EINTR) {
                continue;
            } else if (errno == EAGAIN || errno == EWOULDBLOCK) {
                return;
            } else {
                fd.reset();  // a broken pipe ends the capture; the child's status still counts
            }
        }
    }

    // Collects the child's status if it has ended; never blocks. Whatever is left of its process
    // group then is ended first: while the child is not yet collected its id still names that
    // group and no other, and no process of the run is to outlive it. Then publishes the exit
    // status once the pipes are at end of file too; true when it is published.
    bool try_reap() {
        siginfo_t info{};
        if (!reaped && ::waitid(P_PID, static_cast<id_t>(child_pid()), &info,
                                WEXITED | WNOWAIT | WNOHANG) != 0) {
            if (errno != EINTR) fail("cannot wait for " + args.front(), errno);
        } else if (!reaped && info.si_pid != 0) {  // ended, not yet collected
            ::killpg(child_pid(), SIGKILL);
            int status = 0;
            pid_t collected = -1;
            do {
                collected = ::waitpid(child_pid(), &status, 0);
            } while (collected < 0 && errno == EINTR);
            if (collected != child_pid()) fail("cannot wait for " + args.front(), errno);
            reaped = decode_status(status);
            pidfd.reset();
        }
        if (reaped && !pipes_open()) returncode = reaped;
        return returncode.has_value();
    }

    // One round of waiting on the pipes and the pidfd, at most `timeout_ms` (-1: no limit).
    // Returns false when one of our interrupt signals arrived since `seen` was read, or a signal
    // interrupted the sleep. The interrupt signals stay blocked from the check until the sleep
    // has begun (ppoll unblocks them atomically), so one that lands in between is not missed.
    bool wait_round(int timeout_ms, unsigned long seen) {
        pollfd fds[3];
        nfds_t n = 0;
        if (out_fd) fds[n++] = {out_fd.get(), POLLIN, 0};
        if (err_fd) fds[n++] = {err_fd.get(), POLLIN, 0};
        if (!reaped && pidfd) fds[n++] = {pidfd.get(), POLLIN, 0};
        if (!reaped && !pidfd) {
            // Without a pidfd the child's end is only seen by waitpid: keep the steps short.
            timeout_ms = timeout_ms < 0 ? kFallbackStepMs : std::min(timeout_ms, kFallbackStepMs);
        }
        if (n == 0 && timeout_ms == 0) return true;

        sigset_t interrupts;
        sigset_t old_mask;
        sigemptyset(&interrupts);
        for (const int signal_number : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&interrupts, signal_number);
        ::pthread_sigmask(SIG_BLOCK, &interrupts, &old_mask);
        if (interrupt_count() != seen) {
            ::pthread_sigmask(SIG_SETMASK, &old_mask, nullptr);
            return false;
        }
#if defined(__linux__)
        timespec limit{timeout_ms / 1000, static_cast<long>(timeout_ms % 1000) * 1000000L};
        int r = ::ppoll(n ? fds : nullptr, n, timeout_ms < 0 ? nullptr : &limit, &old_mask);
        const int saved_errno = errno;
        ::pthread_sigmask(SIG_SETMASK, &old_mask, nullptr);
#else
        // No ppoll: a signal between the check and the sleep waits for the end of this step.
        ::pthread_sigmask(SIG_SETMASK, &old_mask, nullptr);
        int r = ::poll(n ? fds : nullptr, n, timeout_ms);
        const int saved_errno = errno;
#endif
        if (r < 0) {
            if (saved_errno == EINTR) return false;
            fail("cannot wait for " + args.front(), saved_errno);
        }
        drain(out_fd, out_text);
        drain(err_fd, err_text);
        return true;
    }
};

PosixChild& child_of(const std::unique_ptr<Process::Impl>& impl) noexcept {
    return static_cast<PosixChild&>(*impl);
}

}  // namespace

Process Process::spawn(const std::vector<std::string>& argv, SpawnOptions options) {
    if (argv.empty() || argv.front().empty()) throw OSError("cannot start a child: empty command line");
    const std::string& program = argv.front();

    SpawnAttr attr;
    FileActions actions;

    // Children start with default handling of the signals we catch or ignore, and with nothing
    // blocked, whatever our own state; a signal that was ignored when we started stays ignored in
    // them too. Each child leads a process group of its own, so that the interrupts passed on to
    // it reach the processes it starts as well (see pass_on_interrupts).
    sigset_t defaults;
    sigemptyset(&defaults);
    for (const int signal_number : {SIGINT, SIGTERM, SIGHUP, SIGPIPE}) {
        if (!detail::ignored_at_start(signal_number)) sigaddset(&defaults, signal_number);
    }
    sigset_t empty_mask;
    sigemptyset(&empty_mask);
    check(posix_spawnattr_setsigdefault(attr.get(), &defaults), program);
    check(posix_spawnattr_setsigmask(attr.get(), &empty_mask), program);
    check(posix_spawnattr_setpgroup(attr.get(), 0), program);
    check(posix_spawnattr_setflags(attr.get(), static_cast<short>(POSIX_SPAWN_SETSIGDEF |
                                                                  POSIX_SPAWN_SETSIGMASK |
                                                                  POSIX_SPAWN_SETPGROUP)),
          program);

    check(posix_spawn_file_actions_addopen(actions.get(), STDIN_FILENO, "/dev/null", O_RDONLY, 0),
          program);

    auto impl = std::make_unique<PosixChild>();
    impl->args = argv;
    Pipe out_pipe;
    Pipe err_pipe;
    auto plan = [&](Stream stream, int target, Pipe& pipe, const std::string& file) {
        switch (stream) {
            case Stream::Inherit:
                break;
            case Stream::Discard:
                check(posix_spawn_file_actions_addopen(actions.get(), target, "/dev/null", O_WRONLY, 0),
                      program);
                break;
            case Stream::Capture:
                pipe = make_pipe(program);
                check(posix_spawn_file_actions_adddup2(actions.get(), pipe.write_end.get(), target),
                      program);
                break;
            case Stream::File:
                check(posix_spawn_file_actions_addopen(actions.get(), target, file.c_str(),
                                                       O_WRONLY | O_APPEND | O_NOFOLLOW, 0),
                      program);
                break;
        }
    };
    plan(options.out, STDOUT_FILENO, out_pipe, options.out_file);
    plan(options.err, STDERR_FILENO, err_pipe, options.err_file);

    std::vector<char*> c_argv;
    c_argv.reserve(argv.size() + 1);
    for (const auto& arg : argv) c_argv.push_back(const_cast<char*>(arg.c_str()));
    c_argv.push_back(nullptr);

    // The inherited environment with the requested variables replaced or added.
    std::vector<std::string> env_texts;
    std::vector<char*> c_env;
    char** child_env = environ;
    if (!options.environment.empty()) {
        for (char** entry = environ; *entry != nullptr; ++entry) {
            const std::string_view text(*entry);
            const std::string_view name = text.substr(0, text.find('='));
            const bool replaced = std::any_of(options.environment.begin(), options.environment.end(),
                                              [&](const auto& set) { return set.first == name; });
            if (!replaced) c_env.push_back(*entry);
        }
        for (const auto& [name, value] : options.environment) env_texts.push_back(name + "=" + value);
        for (auto& text : env_texts) c_env.push_back(text.data());
        c_env.push_back(nullptr);
        child_env = c_env.data();
    }

    pid_t pid = -1;
    // posix_spawnp reports a program that cannot be executed (missing, not executable) through its
    // result, so such a failure never looks like a child that ran and exited with 127.
    check(posix_spawnp(&pid, program.c_str(), actions.get(), attr.get(), c_argv.data(), child_env),
          program);

    impl->pid = pid;
    impl->pidfd = open_pidfd(pid);
    impl->out_fd = std::move(out_pipe.read_end);
    impl->err_fd = std::move(err_pipe.read_end);
    // The write ends close here, in the parent, so end of file arrives when the child is done.
    return Process(std::move(impl));
}

bool Process::poll() {
    PosixChild& p = child_of(impl_);
    if (p.returncode) return true;
    p.drain(p.out_fd, p.out_text);
    p.drain(p.err_fd, p.err_text);
    return p.try_reap();
}

int Process::wait() {
    PosixChild& p = child_of(impl_);
    while (!p.returncode) {
        // A signal only ends the round: it is passed on and the wait goes on.
        const unsigned long seen = interrupt_count();
        p.pass_on_interrupts();
        (void)p.wait_round(p.until_next_step(-1), seen);
        p.try_reap();
    }
    return *p.returncode;
}

bool Process::wait_for(std::chrono::milliseconds limit) {
    using clock = std::chrono::steady_clock;
    PosixChild& p = child_of(impl_);
    const auto deadline = clock::now() + limit;
    const unsigned long seen = interrupt_count();
    p.pass_on_interrupts();
    for (;;) {
        if (poll()) return true;
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - clock::now());
        if (left.count() <= 0) return false;
        int ms = static_cast<int>(std::min<long long>(left.count(), 1000LL * 60 * 60));
        if (!p.wait_round(p.until_next_step(ms), seen)) {
            // A signal arrived: pass it on, and let the caller look at its interrupt flag.
            p.pass_on_interrupts();
            return poll();
        }
        p.pass_on_interrupts();  // a grace period may have ended
    }
}

void Process::send_signal(int signal_number) {
    PosixChild& p = child_of(impl_);
    // Once collected, the pid may belong to another process: never signal it then.
    if (p.reaped) return;
    if (::kill(p.child_pid(), signal_number) != 0 && errno != ESRCH) {
        fail("cannot signal " + p.args.front(), errno);
    }
}

}  // namespace tessel_installer::platform
