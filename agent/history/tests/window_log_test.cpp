#include "agent/history/window_log.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <string>
#include <vector>

#include "agent/session/tests/scratch_folder.h"

namespace tavrel::history {
namespace {

namespace fs = std::filesystem;
using tavrel::testing::readBytes;
using tavrel::testing::runUnprivileged;
using tavrel::testing::ScratchFolder;
using tavrel::testing::writeBytes;
using A = WindowLogAction;
using T = WindowLogTarget;

// Writes down what the window would be told.
class RecordingView : public WindowLogView {
  public:
    void pageCleared(int page) override { events.push_back("clear " + std::to_string(page)); }
    void lineAdded(int page, std::string_view line) override {
        events.push_back("line " + std::to_string(page) + " " + std::string(line));
    }
    void statusChanged(int page, std::string_view text) override {
        events.push_back("status " + std::to_string(page) + " " + std::string(text));
    }
    std::vector<std::string> events;
};

using Events = std::vector<std::string>;
const std::string kRule = "\r\n" + std::string(120, '+') + "\r\n";

class WindowLogTest : public ::testing::Test {
  protected:
    WindowLogTest() {
        fs::create_directories(m_root / "UPDATE");
        m_log.setView(&m_view);
    }
    fs::path pageFile(int page) const {
        return m_root / "UPDATE" / ("TAVRELUPD" + std::to_string(page) + ".LOG");
    }

    ScratchFolder m_root;
    std::string m_updateFolder = (m_root / "UPDATE").string();
    RecordingView m_view;
    WindowLog m_log{[this] { return m_updateFolder; }};
};

TEST_F(WindowLogTest, StatusTargetChangesOnlyTheLabel) {
    ASSERT_EQ(m_log.WriteWindowLog(A::Append, 1, "kept line", T::Page), 0);
    ASSERT_EQ(m_log.WriteWindowLog(A::Append, 1, "Installing", T::Status), 0);
    EXPECT_EQ(m_log.pageText(1), "kept line");
    EXPECT_EQ(m_log.statusText(1), "Installing");
    EXPECT_EQ(m_log.statusText(0), "");
    EXPECT_EQ(m_view.events, (Events{"line 1 kept line", "status 1 Installing"}));
}

TEST_F(WindowLogTest, LinesAreSeparatedByLineBreaksOnly) {
    ASSERT_EQ(m_log.WriteWindowLog(A::Append, 0, "one"), 0);
    ASSERT_EQ(m_log.WriteWindowLog(A::Append, 0, ""), 0);
    ASSERT_EQ(m_log.WriteWindowLog(A::Append, 0, "three"), 0);
    EXPECT_EQ(m_log.pageText(0), "one\r\n\r\nthree");
    EXPECT_EQ(m_log.pageText(3), "");
}

TEST_F(WindowLogTest, PageAndStatusTargetDoesBoth) {
    ASSERT_EQ(m_log.WriteWindowLog(A::Append, 2, "Converting", T::PageAndStatus), 0);
    EXPECT_EQ(m_log.pageText(2), "Converting");
    EXPECT_EQ(m_log.statusText(2), "Converting");
    EXPECT_EQ(m_view.events, (Events{"line 2 Converting", "status 2 Converting"}));
}

TEST_F(WindowLogTest, OtherTargetsDoNothing) {
    for (int target : {0, 1, 3, 5, 7, 8, -2}) {
        EXPECT_EQ(m_log.WriteWindowLog(A::Append, 0, "x", static_cast<T>(target)), 0);
    }
    EXPECT_EQ(m_log.pageText(0), "");
    EXPECT_EQ(m_log.statusText(0), "");
    EXPECT_TRUE(m_view.events.empty());
}

TEST_F(WindowLogTest, CommandPageHasNoStatusLabel) {
    ASSERT_EQ(m_log.WriteWindowLog(A::Append, 3, "230 Logged in", T::PageAndStatus), 0);
    ASSERT_EQ(m_log.WriteWindowLog(A::Append, 3, "ignored", T::Status), 0);
    EXPECT_EQ(m_log.pageText(3), "230 Logged in");
    EXPECT_EQ(m_log.statusText(3), "");
    EXPECT_EQ(m_view.events, (Events{"line 3 230 Logged in"}));
}

TEST_F(WindowLogTest, ClearEmptiesOnlyThatPage) {
    m_log.WriteWindowLog(A::Append, 0, "zero", T::PageAndStatus);
    m_log.WriteWindowLog(A::Append, 1, "one");
    m_view.events.clear();
    ASSERT_EQ(m_log.WriteWindowLog(A::Clear, 0), 0);
    EXPECT_EQ(m_log.pageText(0), "");
    EXPECT_EQ(m_log.statusText(0), "zero");
    EXPECT_EQ(m_log.pageText(1), "one");
    EXPECT_EQ(m_view.events, (Events{"clear 0"}));
    // The first line after a clear gets no line break in front.
    m_log.WriteWindowLog(A::Append, 0, "again");
    EXPECT_EQ(m_log.pageText(0), "again");
}

TEST_F(WindowLogTest, PageOutsideZeroToThreeIsRefused) {
    for (int page : {-1, 4, 100}) {
        EXPECT_EQ(m_log.WriteWindowLog(A::Append, page, "x", T::PageAndStatus), EINVAL);
        EXPECT_EQ(m_log.WriteWindowLog(A::Clear, page), EINVAL);
        EXPECT_EQ(m_log.WriteWindowLog(A::Save, page), EINVAL);
        EXPECT_EQ(m_log.pageText(page), "");
        EXPECT_FALSE(m_log.pageFile(page).has_value());
    }
    EXPECT_EQ(m_log.WriteWindowLog(static_cast<A>(1001), 0, "x"), EINVAL);
    EXPECT_EQ(m_log.pageText(0), "");
    EXPECT_TRUE(m_view.events.empty());
    EXPECT_TRUE(fs::is_empty(m_root / "UPDATE"));
}

TEST_F(WindowLogTest, SavedPageEndsWithALineOf120Pluses) {
    m_log.WriteWindowLog(A::Append, 1, "first");
    m_log.WriteWindowLog(A::Append, 1, "second");
    ASSERT_EQ(m_log.WriteWindowLog(A::Save, 1), 0);
    EXPECT_EQ(readBytes(pageFile(1)), "first\r\nsecond" + kRule);
    // Saving leaves the page as it was.
    EXPECT_EQ(m_log.pageText(1), "first\r\nsecond");
}

TEST_F(WindowLogTest, EmptyPageSavesOnlyTheRule) {
    ASSERT_EQ(m_log.WriteWindowLog(A::Save, 3), 0);
    EXPECT_EQ(readBytes(pageFile(3)), kRule);
}

TEST_F(WindowLogTest, SavingPageZeroTwiceKeepsOnlyTheSecondSave) {
    m_log.WriteWindowLog(A::Append, 0, "a much longer first session text");
    ASSERT_EQ(m_log.WriteWindowLog(A::Save, 0), 0);
    m_log.WriteWindowLog(A::Clear, 0);
    m_log.WriteWindowLog(A::Append, 0, "short");
    ASSERT_EQ(m_log.WriteWindowLog(A::Save, 0), 0);
    EXPECT_EQ(readBytes(pageFile(0)), "short" + kRule);
}

TEST_F(WindowLogTest, ExistingPageFileNamedInOtherCaseIsReplaced) {
    const fs::path lower = m_root / "UPDATE" / "tavrelupd0.log";
    writeBytes(lower, "old");
    m_log.WriteWindowLog(A::Append, 0, "new");
    ASSERT_EQ(m_log.WriteWindowLog(A::Save, 0), 0);
    EXPECT_EQ(readBytes(lower), "new" + kRule);
    EXPECT_FALSE(fs::exists(pageFile(0)));
}

TEST_F(WindowLogTest, SaveIntoMissingFolderIsReportedAndMakesNothing) {
    m_updateFolder = (m_root / "gone").string();
    m_log.WriteWindowLog(A::Append, 0, "text");
    EXPECT_EQ(m_log.WriteWindowLog(A::Save, 0), ENOENT);
    EXPECT_FALSE(fs::exists(m_root / "gone"));
    EXPECT_EQ(m_log.pageText(0), "text");
    m_updateFolder.clear();
    EXPECT_EQ(m_log.WriteWindowLog(A::Save, 0), ENOENT);
}

TEST_F(WindowLogTest, ReadOnlyPageFileIsLeftAsItWas) {
    writeBytes(pageFile(0), "previous session");
    fs::permissions(pageFile(0), fs::perms::owner_read);
    m_log.WriteWindowLog(A::Append, 0, "text");
    EXPECT_EQ(m_log.WriteWindowLog(A::Save, 0), EACCES);
    EXPECT_EQ(readBytes(pageFile(0)), "previous session");
}

TEST_F(WindowLogTest, ReadOnlyFolderKeepsThePreviousSave) {
    writeBytes(pageFile(0), "previous session");
    const fs::path folder = m_root / "UPDATE";
    fs::permissions(folder, fs::perms::owner_read | fs::perms::owner_exec | fs::perms::others_read |
                                fs::perms::others_exec);
    m_log.WriteWindowLog(A::Append, 0, "text");
    const int rc = runUnprivileged([&] { return m_log.WriteWindowLog(A::Save, 0); });
    fs::permissions(folder, fs::perms::all);
    EXPECT_EQ(rc, EACCES);
    EXPECT_EQ(readBytes(pageFile(0)), "previous session");
    EXPECT_EQ(std::distance(fs::directory_iterator(folder), fs::directory_iterator()), 1);
}

TEST_F(WindowLogTest, WorksWithoutAView) {
    m_log.setView(nullptr);
    EXPECT_EQ(m_log.WriteWindowLog(A::Append, 0, "x", T::PageAndStatus), 0);
    EXPECT_EQ(m_log.WriteWindowLog(A::Clear, 0), 0);
    EXPECT_EQ(m_log.statusText(0), "x");
}

}  // namespace
}  // namespace tavrel::history
