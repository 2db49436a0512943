#include "agent/history/operation_log.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <clocale>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <iomanip>
#include <locale>
#include <sstream>
#include <string>

#include "agent/history/log_text.h"
#include "agent/session/tests/scratch_folder.h"
#include "platform/clock.h"

namespace tavrel::history {
namespace {

namespace fs = std::filesystem;
using platform::DateTime;
using platform::FixedClock;
using tavrel::testing::readBytes;
using tavrel::testing::runUnprivileged;
using tavrel::testing::ScratchFolder;
using tavrel::testing::writeBytes;

constexpr DateTime kMonday{2026, 12, 7, 8, 5, 0};

class OperationLogTest : public ::testing::Test {
  protected:
    fs::path logFile() const { return m_folder / "LOG.TXT"; }
    std::size_t entriesInFolder() const {
        return std::size_t(
            std::distance(fs::directory_iterator(m_folder.path()), fs::directory_iterator()));
    }

    ScratchFolder m_folder;
    FixedClock m_clock{kMonday};
    OperationLog m_log{m_folder.text(), m_clock};
};

TEST_F(OperationLogTest, NewestEntryStandsFirst) {
    ASSERT_EQ(m_log.AppendOperationLog("A"), 0);
    m_clock.advanceSeconds(9);
    ASSERT_EQ(m_log.AppendOperationLog("B"), 0);
    EXPECT_EQ(readBytes(logFile()),
              "Mon 07 Dec 2026 08:05:09 B\r\n"
              "Mon 07 Dec 2026 08:05:00 A\r\n");
}

TEST_F(OperationLogTest, OldContentIsKeptByteForByte) {
    const std::string old("older entry without line end \xff\x00 tail", 36);
    writeBytes(logFile(), old);
    ASSERT_EQ(m_log.AppendOperationLog("Started"), 0);
    EXPECT_EQ(readBytes(logFile()), "Mon 07 Dec 2026 08:05:00 Started\r\n" + old);
}

TEST_F(OperationLogTest, ExistingFileNamedInOtherCaseIsUsed) {
    writeBytes(m_folder / "log.txt", "old\r\n");
    ASSERT_EQ(m_log.AppendOperationLog("Started"), 0);
    EXPECT_EQ(readBytes(m_folder / "log.txt"), "Mon 07 Dec 2026 08:05:00 Started\r\nold\r\n");
    EXPECT_FALSE(fs::exists(logFile()));
    EXPECT_EQ(entriesInFolder(), 1u);
}

TEST_F(OperationLogTest, ReadOnlyFileIsLeftAsItWas) {
    writeBytes(logFile(), "old\r\n");
    fs::permissions(logFile(), fs::perms::owner_read);
    EXPECT_EQ(m_log.AppendOperationLog("Started"), EACCES);
    EXPECT_EQ(readBytes(logFile()), "old\r\n");
    EXPECT_EQ(entriesInFolder(), 1u);
}

TEST_F(OperationLogTest, SymlinkedLogStaysALinkAndItsTargetGetsTheEntry) {
    fs::create_directory(m_folder / "shared");
    writeBytes(m_folder / "shared" / "agent.log", "old\r\n");
    fs::create_symlink("shared/agent.log", logFile());
    ASSERT_EQ(m_log.AppendOperationLog("Started"), 0);
    EXPECT_TRUE(fs::is_symlink(logFile()));
    const std::string target = readBytes(m_folder / "shared" / "agent.log");
    EXPECT_NE(target.find("Started"), std::string::npos);
    EXPECT_EQ(target.substr(target.size() - 5), "old\r\n") << "old entries follow the new one";
}

TEST_F(OperationLogTest, ReadOnlyFolderKeepsTheOldContent) {
    writeBytes(logFile(), "old\r\n");
    fs::permissions(m_folder.path(), fs::perms::owner_read | fs::perms::owner_exec |
                                         fs::perms::others_read | fs::perms::others_exec);
    const int rc = runUnprivileged([&] { return m_log.AppendOperationLog("Started"); });
    fs::permissions(m_folder.path(), fs::perms::all);
    EXPECT_EQ(rc, EACCES);
    EXPECT_EQ(readBytes(logFile()), "old\r\n");
    EXPECT_EQ(entriesInFolder(), 1u);
}

TEST_F(OperationLogTest, FileThatCannotBeReadIsNotOverwritten) {
    // Writable but not readable for the writer: writing without the old
    // entries would lose them.
    writeBytes(logFile(), "old\r\n");
    fs::permissions(logFile(), fs::perms::owner_write);
    const int rc = runUnprivileged([&] { return m_log.AppendOperationLog("Started"); });
    EXPECT_EQ(rc, EACCES);
    EXPECT_EQ(readBytes(logFile()), "old\r\n");
    EXPECT_EQ(entriesInFolder(), 1u);
}

TEST_F(OperationLogTest, MissingFolderIsReportedAndNotMade) {
    OperationLog log(m_folder.text() + "gone/", m_clock);
    EXPECT_EQ(log.AppendOperationLog("Started"), ENOENT);
    EXPECT_FALSE(fs::exists(m_folder / "gone"));
    OperationLog unset("", m_clock);
    EXPECT_EQ(unset.AppendOperationLog("Started"), ENOENT);
    EXPECT_FALSE(unset.filePath().has_value());
}

TEST_F(OperationLogTest, FolderWithoutTrailingSeparatorWorks) {
    OperationLog log(m_folder.path().string(), m_clock);
    ASSERT_EQ(log.AppendOperationLog("X"), 0);
    EXPECT_EQ(readBytes(logFile()), "Mon 07 Dec 2026 08:05:00 X\r\n");
}

// Number grouping and day names that an English-only formatter must not pick up.
struct GroupingPunct : std::numpunct<char> {
    char do_thousands_sep() const override { return '.'; }
    std::string do_grouping() const override { return "\3"; }
};
struct NonEnglishTimes : std::time_put<char> {
    iter_type do_put(iter_type out, std::ios_base&, char, const std::tm*, char,
                     char) const override {
        for (char c : std::string("Mo")) *out++ = c;
        return out;
    }
};

// Switches the process to German for the C library and the C++ global locale:
// a real de_DE locale built with localedef into `folder` when the tool is
// there, otherwise the C++ facets above.
class ForeignLocale {
  public:
    explicit ForeignLocale(const fs::path& folder) : m_old(std::locale()) {
        std::locale base = std::locale::classic();
        const fs::path built = folder / "de_DE.UTF-8";
        if (fs::exists("/usr/bin/localedef")) {
            const std::string command =
                "/usr/bin/localedef -i de_DE -f UTF-8 '" + built.string() + "' >/dev/null 2>&1";
            (void)std::system(command.c_str());
        }
        if (fs::exists(built / "LC_TIME")) {
            ::setenv("LOCPATH", folder.c_str(), 1);
            if (std::setlocale(LC_ALL, "de_DE.UTF-8")) {
                base = std::locale("de_DE.UTF-8");
                m_real = true;
            }
        }
        if (!m_real) base = std::locale(base, new NonEnglishTimes);
        std::locale::global(std::locale(base, new GroupingPunct));
    }
    ~ForeignLocale() {
        std::locale::global(m_old);
        std::setlocale(LC_ALL, "C");
        ::unsetenv("LOCPATH");
    }
    bool real() const { return m_real; }

  private:
    std::locale m_old;
    bool m_real = false;
};

TEST_F(OperationLogTest, DayAndMonthNamesAreEnglishWhateverTheLocale) {
    ScratchFolder localeFolder;
    // In a child: the C library keeps what it loaded for the locale.
    const int outcome = tavrel::testing::runInChild([&] {
        ForeignLocale foreign(localeFolder.path());
        // The locale really is foreign: the library's own formatting says so.
        std::tm monday{};
        monday.tm_year = 126, monday.tm_mon = 11, monday.tm_mday = 7, monday.tm_wday = 1;
        std::ostringstream probe;
        probe << std::put_time(&monday, "%a") << ' ' << 2026;
        if (probe.str() != "Mo 2.026") return 1;

        FixedClock clock(DateTime{2026, 5, 14, 23, 59, 58});
        if (NowText(clock) != "Thu 14 May 2026 - 23:59:58") return 2;
        clock.set(DateTime{2027, 3, 1, 0, 0, 1});
        if (NowText(clock) != "Mon 01 Mar 2027 - 00:00:01") return 3;
        if (m_log.AppendOperationLog("Started") != 0) return 4;
        if (readBytes(logFile()) != "Mon 07 Dec 2026 08:05:00 Started\r\n") return 5;
        return foreign.real() ? 0 : 10;
    });
    // 10: passed with the C++ facets only (no localedef on this machine).
    EXPECT_TRUE(outcome == 0 || outcome == 10) << "failed check " << outcome;
    RecordProperty("locale", outcome == 0 ? "de_DE.UTF-8 (localedef)" : "C++ facets");
}

TEST(NowText, HasTheDashBetweenDateAndTime) {
    FixedClock clock(DateTime{2026, 12, 13, 7, 4, 3});
    EXPECT_EQ(NowText(clock), "Sun 13 Dec 2026 - 07:04:03");
}

}  // namespace
}  // namespace tavrel::history
