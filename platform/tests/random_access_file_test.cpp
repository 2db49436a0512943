#include "platform/random_access_file.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <vector>

#include "temp_folder.h"

namespace tavrel::platform {
namespace {

using testing::TempFolder;
using Mode = RandomAccessFile::OpenMode;
using Kind = RandomAccessFile::LockKind;

std::vector<uint8_t> bytes(std::string_view text) { return {text.begin(), text.end()}; }

TEST(RandomAccessFile, WritesAndReadsAtPositionsAndGrowsWithZeros) {
    TempFolder dir;
    int error = -1;
    auto file = RandomAccessFile::open(dir / "T.DBF", Mode::kCreateNew, &error);
    ASSERT_TRUE(file) << error;
    ASSERT_EQ(file->writeAt(10, bytes("tail")), 0);
    ASSERT_EQ(file->writeAt(0, bytes("head")), 0);
    uint64_t size = 0;
    ASSERT_EQ(file->size(&size), 0);
    EXPECT_EQ(size, 14u);
    std::vector<uint8_t> buffer(20, 0xFF);
    size_t count = 0;
    ASSERT_EQ(file->readAt(0, buffer, &count), 0);
    ASSERT_EQ(count, 14u);  // short read at the end of the file
    EXPECT_EQ(std::string(buffer.begin(), buffer.begin() + 14),
              std::string("head\0\0\0\0\0\0tail", 14));
    EXPECT_EQ(file->readExactAt(8, std::span(buffer).first(8)), EIO);
    EXPECT_EQ(file->readExactAt(10, std::span(buffer).first(4)), 0);
    ASSERT_EQ(file->truncate(6), 0);
    ASSERT_EQ(file->size(&size), 0);
    EXPECT_EQ(size, 6u);
    EXPECT_EQ(file->sync(), 0);
}

// Asking the disk to take written bytes early is only a hint: whatever the
// range (inside, past the end, empty) and whatever the open, the file keeps
// its size and bytes, and a sync still works after it.
TEST(RandomAccessFile, StartingTheWriteBackEarlyChangesNothingInTheFile) {
    TempFolder dir;
    auto file = RandomAccessFile::open(dir / "W.DBF", Mode::kCreateNew);
    ASSERT_TRUE(file);
    std::vector<uint8_t> data(3 << 20);
    for (size_t i = 0; i < data.size(); ++i) data[i] = uint8_t(i * 31 + i / 4096);
    ASSERT_EQ(file->writeAt(0, data), 0);
    file->startWriteBack(0, 1 << 20);
    file->startWriteBack(1 << 20, 16 << 20);  // runs past the end
    file->startWriteBack(5 << 20, 0);
    auto reader = RandomAccessFile::open(dir / "W.DBF", Mode::kRead);
    ASSERT_TRUE(reader);
    reader->startWriteBack(0, data.size());  // nothing to write through this open
    EXPECT_EQ(file->sync(), 0);
    uint64_t size = 0;
    ASSERT_EQ(reader->size(&size), 0);
    EXPECT_EQ(size, data.size());
    std::vector<uint8_t> back(data.size());
    ASSERT_EQ(reader->readExactAt(0, back), 0);
    EXPECT_TRUE(back == data);
}

TEST(RandomAccessFile, OpenModesRefuseWhatTheyMust) {
    TempFolder dir;
    int error = 0;
    EXPECT_FALSE(RandomAccessFile::open(dir / "missing", Mode::kRead, &error));
    EXPECT_EQ(error, ENOENT);
    ASSERT_TRUE(RandomAccessFile::open(dir / "a", Mode::kCreateNew));
    EXPECT_FALSE(RandomAccessFile::open(dir / "a", Mode::kCreateNew, &error));
    EXPECT_EQ(error, EEXIST);
    EXPECT_FALSE(RandomAccessFile::open(dir.path(), Mode::kRead, &error));
    EXPECT_EQ(error, EISDIR);
    auto reader = RandomAccessFile::open(dir / "a", Mode::kRead);
    ASSERT_TRUE(reader);
    EXPECT_FALSE(reader->writable());
    EXPECT_NE(reader->writeAt(0, bytes("x")), 0);
}

TEST(RandomAccessFile, LocksConflictBetweenTwoOpensInOneProcess) {
    TempFolder dir;
    auto a = RandomAccessFile::open(dir / "t", Mode::kCreateNew);
    auto b = RandomAccessFile::open(dir / "t", Mode::kReadWrite);
    ASSERT_TRUE(a && b);
    // The FoxPro header lock byte, far beyond the end of the (empty) file.
    ASSERT_EQ(a->lock(0x40000000, 1, Kind::kExclusive), 0);
    EXPECT_EQ(b->lock(0x40000000, 1, Kind::kExclusive), EAGAIN);
    EXPECT_EQ(b->lock(0x40000000, 1, Kind::kShared), EAGAIN);
    EXPECT_EQ(b->lock(0x40000001, 1, Kind::kExclusive), 0);  // the next byte is free
    ASSERT_EQ(a->unlock(0x40000000, 1), 0);
    EXPECT_EQ(b->lock(0x40000000, 1, Kind::kExclusive), 0);
}

TEST(RandomAccessFile, SharedLocksCoexistAndKeepExclusiveOut) {
    TempFolder dir;
    auto a = RandomAccessFile::open(dir / "t", Mode::kCreateNew);
    auto b = RandomAccessFile::open(dir / "t", Mode::kRead);
    auto c = RandomAccessFile::open(dir / "t", Mode::kReadWrite);
    ASSERT_TRUE(a && b && c);
    ASSERT_EQ(a->lock(0x7FFFFFFE, 1, Kind::kShared), 0);
    ASSERT_EQ(b->lock(0x7FFFFFFE, 1, Kind::kShared), 0);
    EXPECT_EQ(c->lock(0x7FFFFFFE, 1, Kind::kExclusive), EAGAIN);
    // The whole CodeBase file-lock range collides with the header byte.
    EXPECT_EQ(c->lock(0x40000000, 0x3FFFFFFF, Kind::kExclusive), EAGAIN);
    a.reset();  // destroying an object drops its locks only
    EXPECT_EQ(c->lock(0x7FFFFFFE, 1, Kind::kExclusive), EAGAIN);
    b.reset();
    EXPECT_EQ(c->lock(0x7FFFFFFE, 1, Kind::kExclusive), 0);
}

TEST(RandomAccessFile, ClosingAnotherOpenOfTheFileKeepsLocks) {
    TempFolder dir;
    auto a = RandomAccessFile::open(dir / "t", Mode::kCreateNew);
    ASSERT_TRUE(a);
    ASSERT_EQ(a->lock(100, 10, Kind::kExclusive), 0);
    RandomAccessFile::open(dir / "t", Mode::kRead).reset();  // opened and closed again
    auto b = RandomAccessFile::open(dir / "t", Mode::kReadWrite);
    ASSERT_TRUE(b);
    EXPECT_EQ(b->lock(105, 1, Kind::kExclusive), EAGAIN);
    EXPECT_EQ(b->lock(uint64_t(1) << 63, 1, Kind::kExclusive), EINVAL);
}

}  // namespace
}  // namespace tavrel::platform
