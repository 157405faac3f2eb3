// Child processes on Windows, started with CreateProcessW.
//
// The argument vector becomes one command line quoted by the rules the Microsoft C runtime uses to
// split it again, so every argument arrives unchanged. A captured stream is an anonymous pipe read
// to its end by a thread of its own, so a child writing a lot to one stream never stalls on the
// other. Only the handles meant for the child are inherited (an explicit handle list), so a child
// started by another part of the program cannot hold our pipes open. Each child runs in a job of
// its own, so that ending it, or its end, ends every process it started.
#include <windows.h>

#include <algorithm>
#include <cwchar>
#include <string_view>
#include <thread>
#include <utility>

#include "tessel_installer/errors.hpp"
#include "tessel_installer/platform/descriptor.hpp"
#include "tessel_installer/platform/process.hpp"
#include "tessel_installer/platform/process_state.hpp"
#include "tessel_installer/platform/signals.hpp"
#include "tessel_installer/platform/windows_text.hpp"

namespace tessel_installer::platform {
namespace detail {
// The event the console handler sets on Ctrl-C or Ctrl-Break (signals_win32.cpp).
HANDLE interrupt_event() noexcept;
}  // namespace detail

namespace {

[[noreturn]] void fail(const std::string& program, DWORD code) {
    throw OSError("cannot start " + program + ": " + windows_error_text(code));
}

// Quotes one argument so that CommandLineToArgvW and the C runtime read it back unchanged:
// backslashes are literal except before a double quote, where each must be doubled.
void append_quoted(std::wstring& line, const std::wstring& arg) {
    if (!arg.empty() && arg.find_first_of(L" \t\n\v\"") == std::wstring::npos) {
        line += arg;
        return;
    }
    line += L'"';
    for (auto it = arg.begin();; ++it) {
        std::size_t backslashes = 0;
        while (it != arg.end() && *it == L'\\') {
            ++it;
            ++backslashes;
        }
        if (it == arg.end()) {
            line.append(backslashes * 2, L'\\');  // the closing quote follows
            break;
        }
        if (*it == L'"') {
            line.append(backslashes * 2 + 1, L'\\');
            line += L'"';
        } else {
            line.append(backslashes, L'\\');
            line += *it;
        }
    }
    line += L'"';
}

// An existing file (the null device, or a file the child appends to, never through a reparse
// point in its place) opened for the child to inherit.
UniqueHandle open_inheritable(const std::wstring& file, DWORD access, DWORD flags,
                              const std::string& program) {
    SECURITY_ATTRIBUTES sa{sizeof sa, nullptr, TRUE};
    UniqueHandle h(CreateFileW(file.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE, &sa,
                               OPEN_EXISTING, flags, nullptr));
    if (!h) fail(program, GetLastError());
    return h;
}

// A pipe whose write end the child inherits and whose read end stays with us.
void make_pipe(UniqueHandle& read_end, UniqueHandle& write_end, const std::string& program) {
    SECURITY_ATTRIBUTES sa{sizeof sa, nullptr, TRUE};
    HANDLE r = nullptr;
    HANDLE w = nullptr;
    if (!CreatePipe(&r, &w, &sa, 0)) fail(program, GetLastError());
    read_end.reset(r);
    write_end.reset(w);
    if (!SetHandleInformation(r, HANDLE_FLAG_INHERIT, 0)) fail(program, GetLastError());
}

HANDLE inheritable_std(DWORD which, const std::string& program, UniqueHandle& holder) {
    HANDLE h = GetStdHandle(which);
    if (h == nullptr || h == INVALID_HANDLE_VALUE) return h;
    // Our own standard handle may not be inheritable; hand the child an inheritable duplicate.
    HANDLE dup = nullptr;
    if (!DuplicateHandle(GetCurrentProcess(), h, GetCurrentProcess(), &dup, 0, TRUE,
                         DUPLICATE_SAME_ACCESS)) {
        fail(program, GetLastError());
    }
    holder.reset(dup);
    return dup;
}

class AttributeList {
public:
    AttributeList(HANDLE* handles, std::size_t count, const std::string& program) {
        SIZE_T size = 0;
        InitializeProcThreadAttributeList(nullptr, 1, 0, &size);
        storage_.resize(size);
        list_ = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(storage_.data());
        if (!InitializeProcThreadAttributeList(list_, 1, 0, &size)) fail(program, GetLastError());
        initialised_ = true;
        if (!UpdateProcThreadAttribute(list_, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, handles,
                                       count * sizeof(HANDLE), nullptr, nullptr)) {
            fail(program, GetLastError());
        }
    }
    ~AttributeList() {
        if (initialised_) DeleteProcThreadAttributeList(list_);
    }
    AttributeList(const AttributeList&) = delete;
    AttributeList& operator=(const AttributeList&) = delete;
    LPPROC_THREAD_ATTRIBUTE_LIST get() const noexcept { return list_; }

private:
    std::vector<char> storage_;
    LPPROC_THREAD_ATTRIBUTE_LIST list_ = nullptr;
    bool initialised_ = false;
};

// A job whose processes all end when its last handle closes; none when it cannot be made.
UniqueHandle make_job() noexcept {
    UniqueHandle job(CreateJobObjectW(nullptr, nullptr));
    if (!job) return job;
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
    limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
    if (!SetInformationJobObject(job.get(), JobObjectExtendedLimitInformation, &limits,
                                 sizeof limits)) {
        job.reset();
    }
    return job;
}

void read_all(HANDLE h, std::string* text) {
    char buffer[65536];
    DWORD n = 0;
    while (ReadFile(h, buffer, sizeof buffer, &n, nullptr) && n > 0) {
        text->append(buffer, n);
    }
}

// A child on Windows: returncode is set once it has ended and both readers are done.
struct WindowsChild final : Process::Impl {
    UniqueHandle process;
    // The job that holds the child and every process it starts: closing it ends what is left of
    // them (JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE). None when the system refused one.
    UniqueHandle job;
    UniqueHandle out_read;
    UniqueHandle err_read;
    std::thread out_reader;
    std::thread err_reader;

    // Waits at most `ms` for the child's end or an interrupt, passing a termination request on
    // first; the interrupt event is reset when it ended the wait.
    DWORD wait_once(DWORD ms) {
        pass_on_termination();
        HANDLE handles[2] = {process.get(), detail::interrupt_event()};
        const DWORD r = WaitForMultipleObjects(handles[1] ? 2 : 1, handles, FALSE, ms);
        if (r == WAIT_OBJECT_0 + 1) ResetEvent(handles[1]);
        return r;
    }

    // Ends the child and, through its job, the processes it started.
    BOOL terminate() noexcept {
        if (job && TerminateJobObject(job.get(), 1)) return TRUE;
        return TerminateProcess(process.get(), 1);
    }

    // A console close or Ctrl-Break recorded meanwhile ends the child's job as well: it would
    // otherwise outlive a run that was asked to end.
    void pass_on_termination() {
        if (passed_on != 0 || returncode || interrupts_shielded()) return;
        const int request = pending_termination();
        if (request == 0) return;
        passed_on = request;
        terminate();
    }

    void finish() {
        // What the child left running ends with it, so that nothing holds its pipes open and no
        // process of the run outlives it.
        job.reset();
        if (out_reader.joinable()) out_reader.join();
        if (err_reader.joinable()) err_reader.join();
        out_read.reset();
        err_read.reset();
        DWORD code = 1;
        GetExitCodeProcess(process.get(), &code);
        returncode = static_cast<int>(code);
    }
};

WindowsChild& child_of(const std::unique_ptr<Process::Impl>& impl) noexcept {
    return static_cast<WindowsChild&>(*impl);
}

}  // namespace

Process Process::spawn(const std::vector<std::string>& argv, SpawnOptions options) {
    if (argv.empty() || argv.front().empty()) throw OSError("cannot start a child: empty command line");
    const std::string& program = argv.front();

    std::wstring command_line;
    for (const auto& arg : argv) {
        if (!command_line.empty()) command_line += L' ';
        append_quoted(command_line, widen(arg));
    }

    UniqueHandle in = open_inheritable(L"NUL", GENERIC_READ, 0, program);
    UniqueHandle out_child, err_child, out_read, err_read;
    auto plan = [&](Stream stream, DWORD which, UniqueHandle& child_end, UniqueHandle& our_end,
                    const std::string& file) {
        switch (stream) {
            case Stream::Inherit:
                return inheritable_std(which, program, child_end);
            case Stream::Discard:
                child_end = open_inheritable(L"NUL", GENERIC_WRITE, 0, program);
                return child_end.get();
            case Stream::Capture:
                make_pipe(our_end, child_end, program);
                return child_end.get();
            case Stream::File:
                child_end = open_inheritable(widen(file), FILE_APPEND_DATA,
                                             FILE_FLAG_OPEN_REPARSE_POINT, program);
                return child_end.get();
        }
        return HANDLE{nullptr};
    };
    HANDLE out = plan(options.out, STD_OUTPUT_HANDLE, out_child, out_read, options.out_file);
    HANDLE err = plan(options.err, STD_ERROR_HANDLE, err_child, err_read, options.err_file);

    std::vector<HANDLE> inherited{in.get()};
    for (HANDLE h : {out, err}) {
        if (h && h != INVALID_HANDLE_VALUE &&
            std::find(inherited.begin(), inherited.end(), h) == inherited.end()) {
            inherited.push_back(h);
        }
    }
    AttributeList attributes(inherited.data(), inherited.size(), program);

    STARTUPINFOEXW info{};
    info.StartupInfo.cb = sizeof info;
    info.StartupInfo.dwFlags = STARTF_USESTDHANDLES;
    info.StartupInfo.hStdInput = in.get();
    info.StartupInfo.hStdOutput = out;
    info.StartupInfo.hStdError = err;
    info.lpAttributeList = attributes.get();

    // The inherited environment with the requested variables replaced or added (names compared
    // without regard to case, as Windows does), as the block of NUL-terminated entries it wants.
    std::wstring env_block;
    if (!options.environment.empty()) {
        auto same_name = [](std::wstring_view a, std::wstring_view b) {
            return a.size() == b.size() &&
                   CompareStringOrdinal(a.data(), static_cast<int>(a.size()), b.data(),
                                        static_cast<int>(b.size()), TRUE) == CSTR_EQUAL;
        };
        std::vector<std::wstring> names;
        for (const auto& set : options.environment) names.push_back(widen(set.first));
        if (wchar_t* inherited = GetEnvironmentStringsW()) {
            for (const wchar_t* entry = inherited; *entry != L'\0'; entry += wcslen(entry) + 1) {
                const std::wstring_view text(entry);
                // Entries such as "=C:=C:\\" name a drive's folder: their name starts after the '='.
                const std::wstring_view name = text.substr(0, text.find(L'=', 1));
                if (std::none_of(names.begin(), names.end(),
                                 [&](const std::wstring& set) { return same_name(set, name); })) {
                    env_block.append(text);
                    env_block.push_back(L'\0');
                }
            }
            FreeEnvironmentStringsW(inherited);
        }
        for (const auto& [name, value] : options.environment) {
            env_block += widen(name + "=" + value);
            env_block.push_back(L'\0');
        }
        env_block.push_back(L'\0');
    }
    UniqueHandle job = make_job();

    PROCESS_INFORMATION pi{};
    // No new process group and no new console: Ctrl-C in the console reaches the child as well.
    // Started suspended, so that it is in its job before it can start anything itself.
    if (!CreateProcessW(nullptr, command_line.data(), nullptr, nullptr, TRUE,
                        EXTENDED_STARTUPINFO_PRESENT | CREATE_UNICODE_ENVIRONMENT | CREATE_SUSPENDED,
                        env_block.empty() ? nullptr : env_block.data(), nullptr,
                        &info.StartupInfo, &pi)) {
        fail(program, GetLastError());
    }
    UniqueHandle process(pi.hProcess);
    UniqueHandle thread(pi.hThread);
    // A system that refuses the job (one that does not allow nested jobs) still runs the child,
    // as before jobs were used.
    if (job && !AssignProcessToJobObject(job.get(), process.get())) job.reset();
    if (ResumeThread(thread.get()) == static_cast<DWORD>(-1)) {
        const DWORD code = GetLastError();
        TerminateProcess(process.get(), 1);
        fail(program, code);
    }
    thread.reset();

    auto impl = std::make_unique<WindowsChild>();
    impl->process = std::move(process);
    impl->job = std::move(job);
    impl->pid = static_cast<long>(pi.dwProcessId);
    impl->args = argv;
    impl->out_read = std::move(out_read);
    impl->err_read = std::move(err_read);
    // Our copies of the child's ends close now (the holders go out of scope), so the readers see
    // end of file when the child and its own children are done.
    if (impl->out_read) impl->out_reader = std::thread(read_all, impl->out_read.get(), &impl->out_text);
    if (impl->err_read) impl->err_reader = std::thread(read_all, impl->err_read.get(), &impl->err_text);
    return Process(std::move(impl));
}

bool Process::poll() {
    WindowsChild& p = child_of(impl_);
    if (p.returncode) return true;
    if (WaitForSingleObject(p.process.get(), 0) != WAIT_OBJECT_0) return false;
    p.finish();
    return true;
}

int Process::wait() {
    WindowsChild& p = child_of(impl_);
    while (!p.returncode) {
        if (p.wait_once(INFINITE) != WAIT_OBJECT_0 + 1) p.finish();
    }
    return *p.returncode;
}

bool Process::wait_for(std::chrono::milliseconds limit) {
    WindowsChild& p = child_of(impl_);
    if (p.returncode) return true;
    const auto ms = std::clamp<long long>(limit.count(), 0, 0x7fffffff);
    const DWORD r = p.wait_once(static_cast<DWORD>(ms));
    if (r == WAIT_OBJECT_0) {
        p.finish();
        return true;
    }
    if (r == WAIT_OBJECT_0 + 1) p.pass_on_termination();
    return false;
}

void Process::send_signal(int) {
    WindowsChild& p = child_of(impl_);
    if (p.returncode) return;
    if (!p.terminate() && WaitForSingleObject(p.process.get(), 0) != WAIT_OBJECT_0) {
        throw OSError("cannot signal " + p.args.front() + ": " + windows_error_text(GetLastError()));
    }
}

}  // namespace tessel_installer::platform
