// A child program for the Windows process tests, started by them through CreateProcessW:
//   win_child args             writes each argument it received as UTF-8, each followed by a NUL
//   win_child flood N          writes N bytes to standard output and N to standard error, in turns
//   win_child exit CODE        ends with CODE (decimal, or hexadecimal with 0x)
//   win_child print TEXT       writes TEXT to standard output
//   win_child wait             blocks until it is ended from outside
// The arguments come from the C runtime's own split of the command line (wmain), which is what
// Python and most other programs a child could be use.
#include <windows.h>

#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <string>

namespace {

std::string utf8(const wchar_t* text) {
    const int n = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<std::size_t>(n > 0 ? n - 1 : 0), '\0');
    if (n > 1) WideCharToMultiByte(CP_UTF8, 0, text, -1, out.data(), n, nullptr, nullptr);
    return out;
}

void write_all(FILE* stream, const std::string& bytes) {
    std::fwrite(bytes.data(), 1, bytes.size(), stream);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    _setmode(_fileno(stdout), _O_BINARY);
    _setmode(_fileno(stderr), _O_BINARY);
    if (argc < 2) return 2;
    const std::wstring mode = argv[1];
    if (mode == L"args") {
        for (int k = 2; k < argc; ++k) {
            write_all(stdout, utf8(argv[k]));
            std::fputc('\0', stdout);
        }
        return 0;
    }
    if (mode == L"flood" && argc == 3) {
        const unsigned long total = std::wcstoul(argv[2], nullptr, 10);
        const std::string chunk(4096, 'x');
        for (unsigned long done = 0; done < total; done += chunk.size()) {
            const std::size_t n = total - done < chunk.size() ? total - done : chunk.size();
            std::fwrite(chunk.data(), 1, n, stdout);
            std::fwrite(chunk.data(), 1, n, stderr);
        }
        return 0;
    }
    if (mode == L"exit" && argc == 3) {
        std::fflush(stdout);
        ExitProcess(static_cast<UINT>(std::wcstoul(argv[2], nullptr, 0)));
    }
    if (mode == L"print" && argc == 3) {
        write_all(stdout, utf8(argv[2]));
        return 0;
    }
    if (mode == L"wait") {
        Sleep(INFINITE);
        return 0;
    }
    return 2;
}
