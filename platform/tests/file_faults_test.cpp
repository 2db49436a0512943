// The file-operation hook and the tests' fault plan over it, on real files:
// which operation fails, what it leaves on the disk, what gets recorded, and
// that everything runs for real again once the plan is gone.
#include "platform/file_faults.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdint>
#include <stdexcept>
#include <thread>
#include <vector>

#include "platform/files.h"
#include "platform/random_access_file.h"
#include "platform/tests/fault_plan.h"
#include "platform/tests/temp_folder.h"

namespace tavrel::platform {
namespace {

using testing::FaultPlan;
using testing::readBytes;
using testing::TempFolder;
using testing::writeBytes;

class FileFaultsTest : public ::testing::Test {
  protected:
    void SetUp() override {
        for (const char* name : {"A.DAT", "B.DAT", "C.DAT"}) {
            writeBytes(dir / name, std::string("bytes of ") + name);
        }
    }
    int copy(const std::string& from, const std::string& to) {
        return copyFile(dir / from, dir / to, true);
    }
    TempFolder dir;
};

TEST_F(FileFaultsTest, TheNthCopyFailsWithTheChosenErrorAndTheOthersRun) {
    ASSERT_EQ(copy("A.DAT", "BEFORE.DAT"), 0);  // before the plan: not counted
    FaultPlan plan(dir.path());
    plan.failNth(FileOperation::kCopy, 2, ENOSPC);
    EXPECT_EQ(copy("A.DAT", "A1.DAT"), 0);
    EXPECT_EQ(copy("B.DAT", "B1.DAT"), ENOSPC);
    EXPECT_EQ(copy("C.DAT", "C1.DAT"), 0);
    EXPECT_EQ(readBytes(dir / "A1.DAT"), "bytes of A.DAT");
    EXPECT_FALSE(std::filesystem::exists(dir / "B1.DAT"));
    EXPECT_EQ(readBytes(dir / "C1.DAT"), "bytes of C.DAT");
    EXPECT_EQ(plan.records(FileOperation::kCopy),
              (std::vector<std::string>{"A.DAT -> A1.DAT", "B.DAT -> B1.DAT", "C.DAT -> C1.DAT"}));
    EXPECT_EQ(plan.faultsInjected(), 1);
    EXPECT_EQ(plan.countAfterFirstFault(FileOperation::kCopy), 1);
}

TEST_F(FileFaultsTest, EachKindIsCountedOnItsOwn) {
    FaultPlan plan(dir.path());
    plan.failNth(FileOperation::kDelete, 2, EBUSY);
    plan.failNth(FileOperation::kMove, 1, EXDEV);
    EXPECT_EQ(copy("A.DAT", "A1.DAT"), 0);
    EXPECT_EQ(moveFile(dir / "A1.DAT", dir / "A2.DAT"), EXDEV);
    EXPECT_EQ(deleteFile(dir / "A1.DAT"), 0);
    EXPECT_EQ(deleteFile(dir / "B.DAT"), EBUSY);
    EXPECT_EQ(moveFile(dir / "C.DAT", dir / "C2.DAT"), 0);
    EXPECT_TRUE(std::filesystem::exists(dir / "B.DAT"));
    EXPECT_EQ(readBytes(dir / "C2.DAT"), "bytes of C.DAT");
    EXPECT_EQ(plan.count(FileOperation::kDelete), 2);
    EXPECT_EQ(plan.count(FileOperation::kMove, "C.DAT -> C2.DAT"), 1);
}

TEST_F(FileFaultsTest, APathRuleMatchesRelativeToTheRootAndACopyByItsTarget) {
    std::filesystem::create_directories(dir / "SUB");
    FaultPlan plan(dir.path());
    plan.failOn(FileOperation::kCopy, "SUB/B.DAT", EIO);
    plan.failNth(FileOperation::kCopy, 0, EROFS).from("C.DAT");
    EXPECT_EQ(copy("A.DAT", "SUB/A.DAT"), 0);
    EXPECT_EQ(copy("A.DAT", "SUB/B.DAT"), EIO);
    EXPECT_EQ(copy("B.DAT", "SUB/B.DAT"), EIO);  // every copy into it
    EXPECT_EQ(copy("C.DAT", "SUB/C.DAT"), EROFS);
    EXPECT_EQ(copy("SUB/A.DAT", "C.DAT"), 0);  // C.DAT as target is not the source rule
    // A path rule may also fail only the nth operation on that path.
    plan.failOn(FileOperation::kDelete, "SUB/A.DAT", EBUSY).onlyNth(2);
    EXPECT_EQ(deleteFile(dir / "B.DAT"), 0);
    EXPECT_EQ(copy("A.DAT", "SUB/A2.DAT"), 0);
    EXPECT_EQ(deleteFile(dir / "SUB" / "A2.DAT"), 0);
    EXPECT_EQ(deleteFile(dir / "SUB" / "A.DAT"), 0);  // the first on that path
    EXPECT_EQ(copy("A.DAT", "SUB/A.DAT"), 0);
    EXPECT_EQ(deleteFile(dir / "SUB" / "A.DAT"), EBUSY);
    EXPECT_TRUE(std::filesystem::exists(dir / "SUB" / "A.DAT"));
    // A path outside the root is recorded as given.
    TempFolder other;
    EXPECT_EQ(copyFile(dir / "A.DAT", other / "X.DAT", true), 0);
    EXPECT_EQ(plan.records(FileOperation::kCopy).back(),
              "A.DAT -> " + (other / "X.DAT").generic_string());
}

TEST_F(FileFaultsTest, AnInjectedErrorIsTheNumberARealFailureGives) {
    // The real failure first: a copy from a missing file.
    const int real = copy("MISSING.DAT", "M1.DAT");
    ASSERT_EQ(real, ENOENT);
    FaultPlan plan(dir.path());
    plan.failOn(FileOperation::kCopy, "A1.DAT", real);
    const int injected = copy("A.DAT", "A1.DAT");
    EXPECT_EQ(injected, real);
    EXPECT_EQ(errorText(injected), errorText(real));
    // Like the real one it leaves no target behind.
    EXPECT_FALSE(std::filesystem::exists(dir / "A1.DAT"));
    EXPECT_FALSE(std::filesystem::exists(dir / "M1.DAT"));
}

TEST_F(FileFaultsTest, ABrokenCopyLeavesAPartialTargetOnlyWhenAsked) {
    FaultPlan plan(dir.path());
    plan.failOn(FileOperation::kCopy, "A1.DAT", EIO).keeping(5);
    plan.failOn(FileOperation::kCopy, "B1.DAT", EIO).leaving("junk");
    plan.failOn(FileOperation::kCopy, "C1.DAT", EIO);
    writeBytes(dir / "C1.DAT", "older C1");
    EXPECT_EQ(copy("A.DAT", "A1.DAT"), EIO);
    EXPECT_EQ(copy("B.DAT", "B1.DAT"), EIO);
    EXPECT_EQ(copy("C.DAT", "C1.DAT"), EIO);
    EXPECT_EQ(readBytes(dir / "A1.DAT"), "bytes");
    EXPECT_EQ(readBytes(dir / "B1.DAT"), "junk");
    EXPECT_EQ(readBytes(dir / "C1.DAT"), "older C1");
}

TEST_F(FileFaultsTest, AFailedAtomicWriteKeepsTheOldContentAtEitherStep) {
    writeBytes(dir / "LOG.TXT", "old log");
    FaultPlan plan(dir.path());
    plan.failNth(FileOperation::kWriteFile, 1, ENOSPC);
    plan.failNth(FileOperation::kReplace, 1, EIO);
    EXPECT_EQ(writeFileAtomic(dir / "LOG.TXT", "new log"), ENOSPC);
    EXPECT_EQ(readBytes(dir / "LOG.TXT"), "old log");
    // The second write gets to the rename, which fails: the written file goes.
    EXPECT_EQ(writeFileAtomic(dir / "LOG.TXT", "new log"), EIO);
    EXPECT_EQ(readBytes(dir / "LOG.TXT"), "old log");
    EXPECT_EQ(listFiles(dir.path()),
              (std::vector<std::string>{"A.DAT", "B.DAT", "C.DAT", "LOG.TXT"}));
    EXPECT_EQ(writeFileAtomic(dir / "LOG.TXT", "third"), 0);
    EXPECT_EQ(readBytes(dir / "LOG.TXT"), "third");
    EXPECT_EQ(plan.count(FileOperation::kWriteFile, "LOG.TXT"), 3);
    EXPECT_EQ(plan.count(FileOperation::kReplace), 2);
}

TEST_F(FileFaultsTest, AMissingFolderIsNotMadeWhileAnExistingOneIsNotAsked) {
    FaultPlan plan(dir.path());
    plan.failNth(FileOperation::kMakeFolder, 0, EACCES);
    EXPECT_EQ(ensureFolder(dir.path()), 0);
    EXPECT_EQ(ensureFolder(dir / "NEW" / "DEEP"), EACCES);
    EXPECT_FALSE(std::filesystem::exists(dir / "NEW"));
    EXPECT_EQ(plan.records(FileOperation::kMakeFolder), (std::vector<std::string>{"NEW/DEEP"}));
}

TEST_F(FileFaultsTest, ARandomAccessWriteCutShortKeepsWhatGotThrough) {
    FaultPlan plan(dir.path());
    plan.failOn(FileOperation::kOpen, "LOCKED.DBF", EACCES);
    plan.failNth(FileOperation::kWrite, 2, ENOSPC).keeping(3);
    int error = 0;
    EXPECT_EQ(
        RandomAccessFile::open(dir / "LOCKED.DBF", RandomAccessFile::OpenMode::kCreateNew, &error),
        nullptr);
    EXPECT_EQ(error, EACCES);
    EXPECT_FALSE(std::filesystem::exists(dir / "LOCKED.DBF"));
    auto file = RandomAccessFile::open(dir / "T.DBF", RandomAccessFile::OpenMode::kCreateNew);
    ASSERT_NE(file, nullptr);
    const std::vector<uint8_t> bytes{'a', 'b', 'c', 'd', 'e', 'f'};
    EXPECT_EQ(file->writeAt(0, bytes), 0);
    EXPECT_EQ(file->writeAt(6, bytes), ENOSPC);
    EXPECT_EQ(file->writeAt(9, bytes), 0);
    file.reset();
    EXPECT_EQ(readBytes(dir / "T.DBF"), "abcdefabcabcdef");
    const auto writes = plan.events();
    ASSERT_EQ(writes.size(), 5u);
    EXPECT_EQ(writes[3].text(), "T.DBF");
    EXPECT_EQ(writes[3].size, 6u);
    EXPECT_EQ(writes[3].error, ENOSPC);
}

TEST_F(FileFaultsTest, RemovingThePlanRestoresRealBehaviour) {
    {
        FaultPlan plan(dir.path());
        plan.failNth(FileOperation::kCopy, 0, EIO);
        plan.failNth(FileOperation::kDelete, 0, EIO);
        EXPECT_EQ(fileFaults(), &plan);
        EXPECT_THROW(FaultPlan second(dir.path()), std::logic_error);
        EXPECT_EQ(fileFaults(), &plan);
        EXPECT_EQ(copy("A.DAT", "A1.DAT"), EIO);
    }
    EXPECT_EQ(fileFaults(), nullptr);
    EXPECT_EQ(copy("A.DAT", "A1.DAT"), 0);
    EXPECT_EQ(deleteFile(dir / "B.DAT"), 0);
    EXPECT_EQ(readBytes(dir / "A1.DAT"), "bytes of A.DAT");
    EXPECT_FALSE(std::filesystem::exists(dir / "B.DAT"));
    // A new plan counts from its own installation.
    FaultPlan next(dir.path());
    next.failNth(FileOperation::kCopy, 1, EROFS);
    EXPECT_EQ(copy("C.DAT", "C1.DAT"), EROFS);
}

TEST_F(FileFaultsTest, CopiesOnSeveralThreadsAreEachCountedOnce) {
    constexpr int kThreads = 4;
    constexpr int kCopiesEach = 25;
    FaultPlan plan(dir.path());
    plan.failNth(FileOperation::kCopy, 50, EIO);
    std::vector<int> failures(kThreads, 0);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < kCopiesEach; ++i) {
                const std::string to = "T" + std::to_string(t) + "_" + std::to_string(i);
                if (copy("A.DAT", to) != 0) ++failures[size_t(t)];
            }
        });
    }
    for (auto& thread : threads) thread.join();
    int failed = 0;
    for (int f : failures) failed += f;
    EXPECT_EQ(failed, 1);
    EXPECT_EQ(plan.count(FileOperation::kCopy), kThreads * kCopiesEach);
    EXPECT_EQ(listFiles(dir.path()).size(), size_t(3 + kThreads * kCopiesEach - 1));
}

}  // namespace
}  // namespace tavrel::platform
