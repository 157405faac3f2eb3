// The installed-package record: its lines, its failures, and several runs changing it at once.
#include "tessel_installer/utils/ledgerfile/ledgerfile.hpp"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "tessel_installer/errors.hpp"
#include "test_support.hpp"

namespace fs = std::filesystem;
namespace lf = tessel_installer::ledgerfile;
using tessel_installer::FileNotFoundError;
using tessel_installer::OSError;
using tessel_installer::ValueError;
using tessel_test::read_file;
using tessel_test::write_file;

namespace {

// A copy of this program started with TESSEL_LEDGER_TEST_STORE=NAME stores NAME and ends before
// any test runs; it lets a test place the program in a directory of its choice.
[[maybe_unused]] const bool kStoredForParent = [] {
    if (const char* name = std::getenv("TESSEL_LEDGER_TEST_STORE")) {
        lf::store_package_name(name);
        std::_Exit(0);
    }
    return false;
}();

std::vector<std::string> names_in(const fs::path& dir) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir))
        names.push_back(entry.path().filename());
    std::sort(names.begin(), names.end());
    return names;
}

// Runs `body` in a forked child and returns its exit status (or 128 + the ending signal).
template <typename Body>
int in_child(Body body) {
    const pid_t pid = ::fork();
    if (pid == 0) std::_Exit(body());
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// Every test gets a fresh directory as XDG_DATA_HOME; it is kept when the test fails.
class LedgerfileTest : public ::testing::Test {
protected:
    void SetUp() override { env_.set("XDG_DATA_HOME", (root_ / "data").string()); }

    fs::path dir() const { return root_ / "data" / "Tessel-Installer"; }
    fs::path record() const { return dir() / "installed_packages.txt"; }

    // A copy of this program in a directory of its own, standing for the installed program, with
    // the per-user directory made impossible to create: a plain file where its parent should be.
    fs::path program_copy_without_user_dir() {
        write_file(root_ / "blocker", "");
        env_.set("XDG_DATA_HOME", (root_ / "blocker" / "data").string());
        fs::create_directories(root_ / "program");
        const fs::path copy = root_ / "program" / "ledgerfile_test";
        fs::copy_file("/proc/self/exe", copy);
        ::chmod(copy.c_str(), 0755);
        return copy;
    }

    const tessel_test::TempDir temp_{"tessel-ledger"};
    const fs::path root_ = temp_.path();
    tessel_test::ScopedEnv env_;
};

TEST_F(LedgerfileTest, StorageDirFollowsXdgDataHome) {
    EXPECT_EQ(lf::storage_dir(), dir());
    EXPECT_FALSE(fs::exists(dir()));  // only computed
}

TEST_F(LedgerfileTest, StoreReadRemoveStoreRoundTrip) {
    ASSERT_FALSE(fs::exists(dir()));
    lf::store_package_name("bundle-alder");
    lf::store_package_name("bundle-alder");  // recorded once
    lf::store_package_name("tessel-enterprise");
    EXPECT_EQ(read_file(record()), "bundle-alder\ntessel-enterprise\n");
    EXPECT_EQ(lf::read_stored_packages(),
              (std::set<std::string>{"bundle-alder", "tessel-enterprise"}));

    lf::remove_package_name("bundle-alder");
    EXPECT_EQ(read_file(record()), "tessel-enterprise\n");
    lf::store_package_name("bundle-cedar");
    EXPECT_EQ(read_file(record()), "tessel-enterprise\nbundle-cedar\n");

    lf::remove_package_name("tessel-enterprise");
    lf::remove_package_name("bundle-cedar");
    ASSERT_TRUE(fs::exists(record()));
    EXPECT_EQ(read_file(record()), "");
    EXPECT_EQ(lf::read_stored_packages(), std::set<std::string>{});
}

struct LinesCase {
    const char* label;
    std::string content;
    std::set<std::string> read;
    std::string remove;
    std::string after_removal;
};

const LinesCase kLinesCases[] = {
    {"blanks and an empty line",
     "  bundle-alder  \n\ntessel-enterprise\n",
     {"bundle-alder", "tessel-enterprise"},
     "tessel-enterprise",
     "bundle-alder\n\n"},
    {"comparison is exact", "bundle-alder\n", {"bundle-alder"}, "Bundle-Alder", "bundle-alder\n"},
    {"unmatched removal still strips",
     " \tbundle-alder\t \n",
     {"bundle-alder"},
     "x",
     "bundle-alder\n"},
    {"every repeat goes", "x\nx\ny\nx\n", {"x", "y"}, "x", "y\n"},
    {"blank-only line kept empty", "a\n   \nb\n", {"a", "b"}, "b", "a\n\n"},
    {"no final line break", "a\nb", {"a", "b"}, "a", "b\n"},
    {"crlf and lone cr end lines", "a\r\nb\rc\r\n", {"a", "b", "c"}, "b", "a\nc\n"},
    {"unicode blanks stripped",
     "\u00a0bundle-alder\u3000\n\u2003\n",
     {"bundle-alder"},
     "zz",
     "bundle-alder\n\n"},
    {"inner blanks kept", "my pkg\n", {"my pkg"}, "my", "my pkg\n"},
    {"non-ascii names", "b\u00fcndel\n", {"b\u00fcndel"}, "b\u00fcndel", ""},
    {"empty file", "", {}, "a", ""},
};

TEST_F(LedgerfileTest, ReadingAndRemovalOfGivenContent) {
    for (const auto& c : kLinesCases) {
        SCOPED_TRACE(c.label);
        write_file(record(), c.content);
        EXPECT_EQ(lf::read_stored_packages(), c.read);
        lf::remove_package_name(c.remove);
        EXPECT_EQ(read_file(record()), c.after_removal);
    }
}

// After an uninstall that removed the distribution, every entry naming it goes, extras and other
// spellings of the name included; entries of other distributions stay as they are.
TEST_F(LedgerfileTest, RemovingADistributionDropsEveryEntryNamingIt) {
    struct Case {
        const char* label;
        std::string content;
        std::string package;
        std::string after;
    };
    const Case cases[] = {
        {"with and without extras", "bundle-birch\nbundle-birch[postgres]\nbundle-birch[mysql]\nx\n",
         "bundle-birch", "x\n"},
        {"uninstalled with an extra", "bundle-birch[mysql]\nbundle-birch\n",
         "bundle-birch[postgres]", ""},
        {"other spellings", "Bundle_Birch\nbundle.birch [mysql]\nbundle-birches\n", "bundle-birch",
         "bundle-birches\n"},
        {"a name that only starts alike stays", "bundle-birch-extra\n", "bundle-birch",
         "bundle-birch-extra\n"},
        {"blank lines stay", "\nbundle-birch\n  \n", "bundle-birch", "\n\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        write_file(record(), c.content);
        lf::remove_distribution(c.package);
        EXPECT_EQ(read_file(record()), c.after);
    }
}

TEST_F(LedgerfileTest, MissingRecord) {
    // No record yet is a value, not an error; an empty record is an empty set, not none.
    EXPECT_EQ(lf::read_stored_packages(), std::nullopt);
    EXPECT_FALSE(fs::exists(dir()));
    // Removal without a record is nothing to do and creates nothing, not even the lock.
    lf::remove_package_name("bundle-alder");
    EXPECT_FALSE(fs::exists(dir()));
    fs::create_directories(dir());
    lf::remove_package_name("bundle-alder");
    EXPECT_TRUE(names_in(dir()).empty());
}

TEST_F(LedgerfileTest, RecordThatIsNotUtf8IsAValueError) {
    const std::string content = "bundle-alder\n\xff\xfe\n";
    write_file(record(), content);
    EXPECT_THROW(lf::read_stored_packages(), ValueError);
    EXPECT_THROW(lf::remove_package_name("bundle-alder"), ValueError);
    EXPECT_EQ(read_file(record()), content);
    // Overlong forms and encoded surrogates are not UTF-8 either.
    for (const std::string bad :
         {"\xc0\xaf\n", "\xed\xa0\x80\n", "\xf4\x90\x80\x80\n", "a\xe2\x82"}) {
        write_file(record(), bad);
        EXPECT_THROW(lf::read_stored_packages(), ValueError);
    }
}

TEST_F(LedgerfileTest, RecordThatCannotBeReadIsAnOSError) {
    fs::create_directories(record());  // a directory where the file should be
    try {
        lf::read_stored_packages();
        FAIL() << "no error";
    } catch (const FileNotFoundError&) {
        FAIL() << "reported as missing";
    } catch (const OSError& error) {
        EXPECT_NE(std::string(error.what()).find(record().string()), std::string::npos)
            << error.what();
    }
    EXPECT_THROW(lf::remove_package_name("x"), OSError);
    EXPECT_TRUE(fs::is_directory(record()));
}

TEST_F(LedgerfileTest, FailedAppendIsLoggedNotThrown) {
    fs::create_directories(record());
    testing::internal::CaptureStderr();
    lf::store_package_name("bundle-alder");
    const std::string err = testing::internal::GetCapturedStderr();
    const std::string path = record().string();
    EXPECT_EQ(err, "Failed to write installed package 'bundle-alder' to '" + path +
                       "': [Errno 21] Is a directory: '" + path + "'\n");
}

TEST_F(LedgerfileTest, FailedRewriteKeepsTheOldRecord) {
    std::string content;
    for (int i = 0; i < 100; ++i)
        content += "bundle-" + std::to_string(i) + "\n";
    write_file(record(), content);
    const auto before = names_in(dir());

    // A file size limit makes every write past 64 bytes fail with EFBIG in the child.
    const int status = in_child([] {
        ::signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{64, 64};
        ::setrlimit(RLIMIT_FSIZE, &limit);
        try {
            lf::remove_package_name("bundle-0");
        } catch (const OSError& error) {
            return std::string(error.what()).find("File too large") != std::string::npos ? 10 : 11;
        } catch (...) {
            return 12;
        }
        return 13;
    });
    EXPECT_EQ(status, 10);
    EXPECT_EQ(read_file(record()), content);
    // No temporary file stays behind (the lock file was there already or is new).
    auto after = names_in(dir());
    std::erase(after, "installed_packages.txt.lock");
    EXPECT_EQ(after, before);
}

TEST_F(LedgerfileTest, RewriteKeepsModeAndRefusesLinks) {
    write_file(record(), "a\nb\n");
    ::chmod(record().c_str(), 0640);
    lf::remove_package_name("a");
    EXPECT_EQ(read_file(record()), "b\n");
    struct stat state {};
    ASSERT_EQ(::stat(record().c_str(), &state), 0);
    EXPECT_EQ(state.st_mode & 07777, 0640u);

    // A link planted as the record or its lock is refused, and the file behind it is left alone.
    const fs::path elsewhere = root_ / "elsewhere" / "record.txt";
    write_file(elsewhere, "a\nb\n");
    for (const fs::path& link : {record(), fs::path(record().string() + ".lock")}) {
        fs::remove(record());
        write_file(record(), "a\n");
        fs::remove(link);
        fs::create_symlink(elsewhere, link);
        try {
            lf::remove_package_name("a");
            ADD_FAILURE() << "no error for " << link;
        } catch (const OSError& error) {
            EXPECT_EQ(error.what(),
                      "'" + link.string() + "' is a symbolic link; refusing to use it");
        }
        EXPECT_EQ(read_file(elsewhere), "a\nb\n");
        fs::remove(link);
    }
}

TEST_F(LedgerfileTest, AppendRefusesARecordWithAnotherHardLink) {
    const fs::path elsewhere = root_ / "elsewhere.txt";
    write_file(elsewhere, "keep\n");
    fs::create_directories(dir());
    fs::create_hard_link(elsewhere, record());
    testing::internal::CaptureStderr();
    lf::store_package_name("bundle-alder");
    const std::string path = record().string();
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "Failed to write installed package 'bundle-alder' to '" + path + "': '" + path +
                  "' has another hard link; refusing to use it\n");
    EXPECT_EQ(read_file(elsewhere), "keep\n");

    // Once the link is gone, the record is written as usual.
    fs::remove(elsewhere);
    lf::store_package_name("bundle-alder");
    EXPECT_EQ(read_file(record()), "keep\nbundle-alder\n");
}

TEST_F(LedgerfileTest, ConcurrentRunsLoseNoEntry) {
    constexpr int kRuns = 3;
    constexpr int kNames = 100;
    int gate[2];
    ASSERT_EQ(::pipe(gate), 0);
    std::vector<pid_t> children;
    for (int run = 0; run < kRuns; ++run) {
        const pid_t pid = ::fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            // Start together: wait until the parent closes the gate.
            ::close(gate[1]);
            char byte = 0;
            while (::read(gate[0], &byte, 1) > 0) {
            }
            // Each run stores its names and removes every even one right after the next.
            for (int i = 0; i < kNames; ++i) {
                const std::string prefix = "run" + std::to_string(run) + "-";
                lf::store_package_name(prefix + std::to_string(i));
                if (i % 2 == 1) lf::remove_package_name(prefix + std::to_string(i - 1));
            }
            std::_Exit(0);
        }
        children.push_back(pid);
    }
    ::close(gate[0]);
    ::close(gate[1]);
    for (const pid_t pid : children) {
        int status = 0;
        ASSERT_EQ(::waitpid(pid, &status, 0), pid);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }

    std::map<int, std::vector<int>> seen;  // run -> its numbers in file order
    std::istringstream lines(read_file(record()));
    std::string line;
    int count = 0;
    while (std::getline(lines, line)) {
        ++count;
        int run = -1;
        int number = -1;
        ASSERT_EQ(std::sscanf(line.c_str(), "run%d-%d", &run, &number), 2) << line;
        seen[run].push_back(number);
    }
    EXPECT_EQ(count, kRuns * kNames / 2);
    std::vector<int> odd;
    for (int i = 1; i < kNames; i += 2)
        odd.push_back(i);
    for (int run = 0; run < kRuns; ++run)
        EXPECT_EQ(seen[run], odd) << "run " << run;
    EXPECT_EQ(names_in(dir()),
              (std::vector<std::string>{"installed_packages.txt", "installed_packages.txt.lock"}));
}

TEST_F(LedgerfileTest, UncreatableUserDirFallsBackToProgramDir) {
    const fs::path copy = program_copy_without_user_dir();
    const int status = in_child([&copy] {
        ::setenv("TESSEL_LEDGER_TEST_STORE", "bundle-alder", 1);
        ::execl(copy.c_str(), copy.c_str(), static_cast<char*>(nullptr));
        return 127;
    });
    ASSERT_EQ(status, 0);
    EXPECT_EQ(read_file(root_ / "program" / "installed_packages.txt"), "bundle-alder\n");

    // Reading looks only in the per-user directory.
    EXPECT_EQ(lf::read_stored_packages(), std::nullopt);
    env_.set("XDG_DATA_HOME", (root_ / "data").string());
    write_file(record(), "tessel-enterprise\n");
    EXPECT_EQ(lf::read_stored_packages(), std::set<std::string>{"tessel-enterprise"});
}

// Tests run as root, where permission bits stop nothing; a child drops to an unprivileged user
// so that they do. Returns false when that is impossible.
bool drop_privileges() {
    if (::getuid() != 0) return true;
    return ::setgid(65534) == 0 && ::setuid(65534) == 0;
}

TEST_F(LedgerfileTest, NothingWritableStoresNothingSilently) {
    const fs::path copy = program_copy_without_user_dir();
    const fs::path program_dir = copy.parent_path();
    ::chmod(root_.c_str(), 0755);
    ::chmod(program_dir.c_str(), 0555);  // the program's directory is not ours to write
    const fs::path errors = root_ / "stderr.txt";

    const int status = in_child([&] {
        const int err = ::open(errors.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
        if (err < 0 || ::dup2(err, STDERR_FILENO) < 0 || !drop_privileges()) return 126;
        ::setenv("TESSEL_LEDGER_TEST_STORE", "bundle-alder", 1);
        ::execl(copy.c_str(), copy.c_str(), static_cast<char*>(nullptr));
        return 127;
    });
    EXPECT_EQ(status, 0);
    EXPECT_FALSE(fs::exists(program_dir / "installed_packages.txt"));
    EXPECT_EQ(read_file(errors), "");
    ::chmod(program_dir.c_str(), 0755);
}

TEST_F(LedgerfileTest, UnreadableRecordIsAPermissionError) {
    write_file(record(), "bundle-alder\n");
    ::chmod(record().c_str(), 0600);
    for (const fs::path& dir : {root_, root_ / "data", dir()})
        ::chmod(dir.c_str(), 0755);
    const int status = in_child([] {
        if (!drop_privileges()) return 126;
        try {
            lf::read_stored_packages();
        } catch (const tessel_installer::PermissionError&) {
            return 10;
        } catch (...) {
            return 11;
        }
        return 12;
    });
    EXPECT_EQ(status, 10);
}

// A folder we may not write: the cause is named as the permission it is, whether the lock is
// missing (it cannot be created) or there (the record or the rewrite's temporary file cannot be).
TEST_F(LedgerfileTest, ReadOnlyFolderIsPermissionDenied) {
    for (const bool lock_exists : {false, true}) {
        SCOPED_TRACE(lock_exists ? "lock there" : "no lock");
        const fs::path lock = record().string() + ".lock";
        write_file(record(), "bundle-alder\n");
        ::chmod(record().c_str(), 0444);
        if (lock_exists) write_file(lock, "");
        ::chmod(lock.c_str(), 0666);
        for (const fs::path& dir : {root_, root_ / "data"})
            ::chmod(dir.c_str(), 0755);
        ::chmod(dir().c_str(), 0555);
        const fs::path errors = root_ / "stderr.txt";
        const int status = in_child([&] {
            const int err = ::open(errors.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
            if (err < 0 || ::dup2(err, STDERR_FILENO) < 0 || !drop_privileges()) return 126;
            lf::store_package_name("bundle-cedar");
            try {
                lf::check_package_file_rewritable();
            } catch (const tessel_installer::PermissionError& error) {
                std::fprintf(stderr, "%s\n", error.what());
                return 10;
            } catch (const std::exception& error) {
                std::fprintf(stderr, "%s\n", error.what());
                return 12;
            }
            return 11;
        });
        ::chmod(dir().c_str(), 0755);
        EXPECT_EQ(status, 10);
        const std::string denied = "[Errno 13] Permission denied: '";
        const std::string expected_store =
            "Failed to write installed package 'bundle-cedar' to '" + record().string() + "': " +
            denied + (lock_exists ? record() : lock).string() + "'\n";
        const std::string expected_check =
            denied + (lock_exists ? dir().string() + "/" : lock.string());
        const std::string got = read_file(errors);
        EXPECT_EQ(got.rfind(expected_store + expected_check, 0), 0u) << got;
    }
}

}  // namespace
