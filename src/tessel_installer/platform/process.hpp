// Child processes. One declaration here; process_posix.cpp (posix_spawn) and process_win32.cpp
// (CreateProcessW) implement it. Children are started from an argument vector, never through a
// shell, and inherit the working directory and the environment (with the variables that
// SpawnOptions::environment sets). Each child leads a process group of its own (a job object on
// Windows), and when it ends, whatever it left running in that group is ended too: no process of a
// run outlives it.
#pragma once

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace tessel_installer::platform {

// What becomes of a child's standard output or standard error.
enum class Stream {
    Inherit,  // the child writes to our terminal
    Discard,  // the null device
    Capture,  // collected as text, read after the child ended
    File,     // appended to an existing file (SpawnOptions::out_file / err_file)
};

struct SpawnOptions {
    Stream out = Stream::Inherit;
    Stream err = Stream::Inherit;
    // Variables the child gets on top of ours (NAME, value), replacing ours of the same name.
    std::vector<std::pair<std::string, std::string>> environment = {};
    // The files of Stream::File. They must exist; the child appends to them, so however much it
    // writes it never waits for us to read.
    std::string out_file = {};
    std::string err_file = {};
};

class Process {
public:
    // Starts argv[0] (searched on PATH when it holds no separator) with the arguments argv[1..].
    // Throws OSError naming the program and the reason when the child cannot be started.
    static Process spawn(const std::vector<std::string>& argv, SpawnOptions options = {});

    Process(Process&&) noexcept;
    Process& operator=(Process&&) noexcept;
    Process(const Process&) = delete;
    Process& operator=(const Process&) = delete;
    ~Process();  // a child still running is waited for (never left as a zombie)

    // True when the child has ended. Never blocks.
    bool poll();
    // Blocks until the child ends; returns its exit status. An interrupt recorded before or during
    // the wait is passed on to the child's process group: SIGINT first, so that pip can roll a
    // half-done change back, then SIGTERM and at last SIGKILL, each on a further interrupt or, for
    // a termination request (SIGTERM or SIGHUP), after a grace period of a few seconds. On
    // Windows a termination request ends the child's job (Ctrl-C reaches the child through the
    // console). The child is still waited for.
    int wait();
    // Waits at most `limit` and returns as soon as the child ends; true when it has ended. Also
    // returns early (false) when a signal handler of ours ran meanwhile, so that callers can look
    // at their interrupt flag. Passes interrupts on like wait().
    bool wait_for(std::chrono::milliseconds limit);
    // The termination request passed on to the child, or 0.
    int termination_passed_on() const noexcept;

    // Exit status once the child has ended: its exit code, or minus the signal that ended it.
    std::optional<int> returncode() const noexcept;
    // Sends a signal to the child alone (POSIX signal number; on Windows any value terminates its
    // job).
    void send_signal(int signal_number);

    long pid() const noexcept;
    const std::vector<std::string>& args() const noexcept;
    // Captured text; complete once the child has ended.
    const std::string& stdout_text() const noexcept;
    const std::string& stderr_text() const noexcept;

    struct Impl;

private:
    explicit Process(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> impl_;
};

struct CompletedProcess {
    std::vector<std::string> args;
    int returncode = 0;
    std::string out;  // empty unless captured
    std::string err;  // empty unless captured
};

// Waits like Process::wait_for, which passes interrupts on to the child's process group, but a
// signal that cuts the wait short does not end it: it goes on until the child ends or `limit` is
// over. The child remembers whether a termination request was passed on
// (Process::termination_passed_on). True when the child has ended.
bool wait_passing_on_termination(Process& process, std::chrono::milliseconds limit);

// Starts a child and waits for it.
CompletedProcess run(const std::vector<std::string>& argv, SpawnOptions options = {});

// What a PATH search passed over (Windows only): files it would not start (.bat and .cmd ones run
// through cmd.exe, which parses the arguments again), and the Microsoft Store's aliases.
struct PathSearchNotes {
    std::vector<std::string> not_started;
    std::vector<std::string> store_aliases;
};

// Searches PATH for an executable file named `name`; the first hit made absolute, or none. On
// Windows the PATHEXT extensions are tried, and only .exe and .com files outside the Store's alias
// folder are taken; `notes`, when given, collects what was passed over.
std::optional<std::string> find_on_path(const std::string& name, PathSearchNotes* notes = nullptr);

}  // namespace tessel_installer::platform
