// The record on Windows, under wine: the lock across processes, the atomic replace, CRLF line
// ends, no reparse point followed in place of the record or its lock, and no append through a
// hard link.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "test_support.hpp"
#include "tessel_installer/errors.hpp"
#include "tessel_installer/platform/process.hpp"
#include "tessel_installer/utils/ledgerfile/ledgerfile.hpp"

namespace fs = std::filesystem;
namespace lf = tessel_installer::ledgerfile;
namespace platform = tessel_installer::platform;

namespace {

using tessel_test::read_file;
using tessel_test::write_file;

constexpr int kNames = 60;

std::wstring gate_name(unsigned long parent) { return L"Local\\tessel-ledger-gate-" + std::to_wstring(parent); }

// A copy of this program started with TESSEL_LEDGER_WIN_RUN=N waits at the parent's gate, then
// stores its names and removes every even one right after the next, and ends before any test runs.
[[maybe_unused]] const bool kRunForParent = [] {
    const char* run = std::getenv("TESSEL_LEDGER_WIN_RUN");
    const char* parent = std::getenv("TESSEL_LEDGER_WIN_PARENT");
    if (run == nullptr || parent == nullptr) return false;
    HANDLE gate = OpenEventW(SYNCHRONIZE, FALSE, gate_name(std::strtoul(parent, nullptr, 10)).c_str());
    if (gate == nullptr) std::_Exit(3);
    WaitForSingleObject(gate, INFINITE);
    const std::string prefix = std::string("run") + run + "-";
    for (int i = 0; i < kNames; ++i) {
        lf::store_package_name(prefix + std::to_string(i));
        if (i % 2 == 1) lf::remove_package_name(prefix + std::to_string(i - 1));
    }
    std::_Exit(0);
}();

std::vector<std::string> names_in(const fs::path& dir) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir)) names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

std::string self_path() {
    wchar_t buffer[MAX_PATH];
    const DWORD n = GetModuleFileNameW(nullptr, buffer, MAX_PATH);
    const auto text = fs::path(std::wstring(buffer, n)).u8string();
    return std::string(text.begin(), text.end());
}

class LedgerWindowsTest : public ::testing::Test {
protected:
    void SetUp() override { env_.set("LOCALAPPDATA", (root_ / "Local").string()); }
    fs::path dir() const { return root_ / "Local" / "Mirralune" / "Tessel-Installer"; }
    fs::path record() const { return dir() / "installed_packages.txt"; }

    const tessel_test::TempDir temp_{"tessel-ledger-win"};
    const fs::path root_ = temp_.path();
    tessel_test::ScopedEnv env_;
};

TEST_F(LedgerWindowsTest, ThreeProcessesAtOnceLoseNothing) {
    constexpr int kRuns = 3;
    HANDLE gate = CreateEventW(nullptr, TRUE, FALSE, gate_name(GetCurrentProcessId()).c_str());
    ASSERT_NE(gate, nullptr);
    env_.set("TESSEL_LEDGER_WIN_PARENT", std::to_string(GetCurrentProcessId()));
    std::vector<platform::Process> runs;
    for (int run = 0; run < kRuns; ++run) {
        env_.set("TESSEL_LEDGER_WIN_RUN", std::to_string(run));
        runs.push_back(platform::Process::spawn({self_path()}));
    }
    env_.set("TESSEL_LEDGER_WIN_RUN", std::nullopt);
    SetEvent(gate);  // all start together
    for (auto& run : runs) EXPECT_EQ(run.wait(), 0);
    CloseHandle(gate);

    std::map<int, std::vector<int>> seen;  // run -> its numbers in file order
    std::istringstream lines(read_file(record()));
    std::string line;
    int count = 0;
    while (std::getline(lines, line)) {
        ++count;
        int run = -1, number = -1;
        ASSERT_EQ(std::sscanf(line.c_str(), "run%d-%d\r", &run, &number), 2) << line;
        EXPECT_EQ(line.back(), '\r');  // the platform's line end
        seen[run].push_back(number);
    }
    EXPECT_EQ(count, kRuns * kNames / 2);
    std::vector<int> odd;
    for (int i = 1; i < kNames; i += 2) odd.push_back(i);
    for (int run = 0; run < kRuns; ++run) EXPECT_EQ(seen[run], odd) << "run " << run;
    EXPECT_EQ(names_in(dir()),
              (std::vector<std::string>{"installed_packages.txt", "installed_packages.txt.lock"}));
}

TEST_F(LedgerWindowsTest, AFailedReplaceKeepsTheOldRecord) {
    const std::string content = "bundle-alder\r\ntessel-enterprise\r\n";
    write_file(record(), content);
    // Another process holding the record open without delete sharing makes the rename fail.
    HANDLE held = CreateFileW(record().c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    const auto before = names_in(dir());
    EXPECT_THROW(lf::remove_package_name("bundle-alder"), tessel_installer::OSError);
    CloseHandle(held);
    EXPECT_EQ(read_file(record()), content);
    auto after = names_in(dir());
    std::erase(after, "installed_packages.txt.lock");
    EXPECT_EQ(after, before);  // no temporary file stays behind
}

TEST_F(LedgerWindowsTest, CrlfRecordReadsTheSame) {
    write_file(record(), "  bundle-alder  \r\n\r\ntessel-enterprise\r\nbundle-alder\r\n");
    EXPECT_EQ(lf::read_stored_packages(), (std::set<std::string>{"bundle-alder", "tessel-enterprise"}));
    lf::remove_package_name("tessel-enterprise");
    EXPECT_EQ(read_file(record()), "bundle-alder\r\n\r\nbundle-alder\r\n");
    lf::store_package_name("bundle-cedar");
    EXPECT_EQ(read_file(record()), "bundle-alder\r\n\r\nbundle-alder\r\nbundle-cedar\r\n");
}

TEST_F(LedgerWindowsTest, NoReparsePointIsFollowed) {
    const fs::path elsewhere = root_ / "elsewhere.txt";
    write_file(elsewhere, "victim\r\n");
    fs::create_directories(dir());
    // libstdc++'s create_symlink is not implemented for Windows: the system call itself.
    const auto link = [](const fs::path& target, const fs::path& at) {
        return CreateSymbolicLinkW(at.c_str(), target.c_str(),
                                   SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE) != 0;
    };
    if (!link(elsewhere, record())) {
        GTEST_SKIP() << "no symbolic link could be made here (CreateSymbolicLinkW error "
                     << GetLastError() << ")";
    }
    const DWORD attributes = GetFileAttributesW(record().c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
        GTEST_SKIP() << "wine made the symbolic link a host link, which Windows programs see as "
                        "the file itself, not as a reparse point";
    }
    EXPECT_THROW(lf::read_stored_packages(), tessel_installer::OSError);
    EXPECT_THROW(lf::remove_package_name("victim"), tessel_installer::OSError);
    lf::store_package_name("bundle-alder");  // logged, not thrown
    EXPECT_EQ(read_file(elsewhere), "victim\r\n");

    // The same for a link in place of the lock: no change is made without the lock.
    fs::remove(record());
    write_file(record(), "bundle-alder\r\n");
    fs::remove(dir() / "installed_packages.txt.lock");
    ASSERT_TRUE(link(elsewhere, dir() / "installed_packages.txt.lock"));
    EXPECT_THROW(lf::remove_package_name("bundle-alder"), tessel_installer::OSError);
    lf::store_package_name("bundle-cedar");
    EXPECT_EQ(read_file(record()), "bundle-alder\r\n");
    EXPECT_EQ(read_file(elsewhere), "victim\r\n");
}

TEST_F(LedgerWindowsTest, AnAppendRefusesARecordWithAnotherHardLink) {
    const fs::path elsewhere = root_ / "elsewhere.txt";
    write_file(elsewhere, "victim\r\n");
    fs::create_directories(dir());
    if (CreateHardLinkW(record().c_str(), elsewhere.c_str(), nullptr) == 0) {
        GTEST_SKIP() << "no hard link could be made here (CreateHardLinkW error " << GetLastError() << ")";
    }
    lf::store_package_name("bundle-alder");  // logged, not thrown
    EXPECT_EQ(read_file(elsewhere), "victim\r\n");
}

}  // namespace
