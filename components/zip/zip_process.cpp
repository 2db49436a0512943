// Extracting and testing entries.
#include <zip.h>

#include <array>

#include "components/zip/zip_archive.h"
#include "platform/file_times.h"
#include "platform/files.h"
#include "platform/random_access_file.h"

namespace tavrel::zip {

namespace fs = platform::fs;

namespace {

constexpr size_t kChunk = 64 * 1024;
// Unix file kinds in the high half of the external attributes (made by Unix).
constexpr uint32_t kKindMask = 0170000;
constexpr uint32_t kKindFile = 0100000;
constexpr uint32_t kKindFolder = 0040000;

zip_t* zipOf(void* handle) { return static_cast<zip_t*>(handle); }

bool isFolderEntry(std::string_view stored) {
    return !stored.empty() && (stored.back() == '/' || stored.back() == '\\');
}

// Feeds the entry's data to `sink` chunk by chunk. The data must end exactly
// at the declared size and pass libzip's CRC check at its end; reading never
// goes past the declared size, so a lying header cannot make it run on.
template <typename Sink>
bool readEntry(zip_t* zip, int64_t index, uint64_t declared, Sink&& sink) {
    zip_file_t* file = zip_fopen_index(zip, zip_uint64_t(index), 0);
    if (!file) return false;
    std::array<uint8_t, kChunk> buffer;
    uint64_t total = 0;
    bool good = true;
    for (;;) {
        const zip_int64_t n = zip_fread(file, buffer.data(), buffer.size());
        if (n < 0) good = false;
        if (n <= 0) break;
        total += uint64_t(n);
        if (total > declared || !sink(std::span<const uint8_t>(buffer.data(), size_t(n)))) {
            good = false;
            break;
        }
    }
    if (zip_fclose(file) != 0) good = false;
    return good && total == declared;
}

}  // namespace

int ZipArchive::processAll() {
    std::vector<int64_t> indexes;
    for (int i = 0; i < entryCount(); ++i) indexes.push_back(i);
    return process(indexes);
}

int ZipArchive::processSelected() {
    std::vector<int64_t> indexes;
    for (size_t i = 0; i < m_selected.size(); ++i) {
        if (m_selected[i]) indexes.push_back(int64_t(i));
    }
    return process(indexes);
}

int ZipArchive::processEntry(int index) {
    if (m_zip && (index < 0 || index >= entryCount()))
        return fail(ZipResult::kBadIndex, "no entry " + std::to_string(index));
    return process({int64_t(index)});
}

int ZipArchive::process(const std::vector<int64_t>& indexes) {
    if (!m_zip) return fail(ZipResult::kNotOpen, "no archive is open");
    if (!m_options.testOnly && m_options.targetFolder.empty())
        return fail(ZipResult::kWriteFailed, "no target folder");
    if (int rc = checkEntries(indexes)) return rc;
    for (int64_t index : indexes) {
        const int rc = m_options.testOnly ? testEntry(index) : extractEntry(index);
        if (rc != 0) return rc;
    }
    return succeed();
}

int ZipArchive::checkEntries(const std::vector<int64_t>& indexes) {
    zip_t* zip = zipOf(m_zip);
    for (int64_t index : indexes) {
        const std::string stored = entryStoredPath(int(index));
        if (isUnsafeEntryPath(stored))
            return fail(ZipResult::kUnsafeEntry, "unsafe entry path: " + stored);
        zip_uint8_t system = 0;
        zip_uint32_t attributes = 0;
        if (zip_file_get_external_attributes(zip, zip_uint64_t(index), 0, &system, &attributes) !=
            0)
            return fail(ZipResult::kDamagedEntry, "unreadable entry: " + stored);
        const uint32_t kind = (attributes >> 16) & kKindMask;
        // Links (and devices, pipes) would let a later entry write through
        // them, anywhere.
        if (system == ZIP_OPSYS_UNIX && kind != 0 && kind != kKindFile && kind != kKindFolder)
            return fail(ZipResult::kUnsafeEntry, "link or special entry: " + stored);
    }
    return 0;
}

int ZipArchive::testEntry(int64_t index) {
    const std::string stored = entryStoredPath(int(index));
    zip_stat_t st;
    if (zip_stat_index(zipOf(m_zip), zip_uint64_t(index), 0, &st) != 0 ||
        !(st.valid & ZIP_STAT_SIZE))
        return fail(ZipResult::kDamagedEntry, "unreadable entry: " + stored);
    if (isFolderEntry(stored) && st.size == 0) return 0;
    if (!readEntry(zipOf(m_zip), index, st.size, [](std::span<const uint8_t>) { return true; }))
        return fail(ZipResult::kDamagedEntry, "damaged entry: " + stored);
    return 0;
}

int ZipArchive::extractEntry(int64_t index) {
    const std::string stored = entryStoredPath(int(index));
    const EntryPath parts = splitEntryPath(stored);
    const std::string folder = m_options.keepPaths
                                   ? platform::joinPath(m_options.targetFolder, parts.folder)
                                   : m_options.targetFolder;
    if (parts.name.empty() && !m_options.keepPaths) return 0;
    const platform::fs::path diskFolder = platform::resolvePath(folder);
    if (platform::ensureFolder(diskFolder) != 0)
        return fail(ZipResult::kWriteFailed, "cannot make folder " + diskFolder.string());
    if (parts.name.empty()) return 0;
    zip_stat_t st;
    if (zip_stat_index(zipOf(m_zip), zip_uint64_t(index), 0, &st) != 0 ||
        !(st.valid & ZIP_STAT_SIZE))
        return fail(ZipResult::kDamagedEntry, "unreadable entry: " + stored);
    // The target's name is looked up once (without regard to case); from
    // here on the exact names are used.
    const platform::fs::path target = platform::resolvePath(diskFolder / parts.name);
    std::error_code ec;
    if (fs::is_directory(target, ec))
        return fail(ZipResult::kWriteFailed, "a folder stands at " + target.string());
    if (fs::is_regular_file(target, ec)) {
        if (!m_options.overwrite) return 0;
        const auto existing = platform::fileModifiedTime(target);
        if (m_options.skipOlder && (st.valid & ZIP_STAT_MTIME) && existing &&
            *existing > int64_t(st.mtime))
            return 0;
    }
    platform::fs::path temp = target;
    temp += std::string(kPartialFileSuffix);
    if (int rc = copyEntryData(index, temp)) {
        fs::remove(temp, ec);
        return rc;
    }
    if (st.valid & ZIP_STAT_MTIME) platform::setFileModifiedTime(temp, int64_t(st.mtime));
    fs::rename(temp, target, ec);
    if (ec) {
        fs::remove(temp, ec);
        return fail(ZipResult::kWriteFailed, "cannot replace " + target.string());
    }
    return 0;
}

int ZipArchive::copyEntryData(int64_t index, const platform::fs::path& tempPath) {
    const std::string stored = entryStoredPath(int(index));
    zip_stat_t st;
    zip_stat_index(zipOf(m_zip), zip_uint64_t(index), 0, &st);
    // A file left by an interrupted run (or planted there) goes first; the new
    // one is created exclusively so that it is never a link to elsewhere.
    std::error_code ec;
    fs::remove(tempPath, ec);
    int error = 0;
    auto file = platform::RandomAccessFile::open(
        tempPath, platform::RandomAccessFile::OpenMode::kCreateNew, &error);
    if (!file) return fail(ZipResult::kWriteFailed, "cannot create " + tempPath.string());
    uint64_t offset = 0;
    int writeError = 0;
    const bool good = readEntry(zipOf(m_zip), index, st.size, [&](std::span<const uint8_t> bytes) {
        writeError = file->writeAt(offset, bytes);
        offset += bytes.size();
        return writeError == 0;
    });
    if (writeError != 0) return fail(ZipResult::kWriteFailed, "cannot write " + tempPath.string());
    if (!good) return fail(ZipResult::kDamagedEntry, "damaged entry: " + stored);
    if (m_options.syncEachFile && file->sync() != 0)
        return fail(ZipResult::kWriteFailed, "cannot write " + tempPath.string());
    return 0;
}

}  // namespace tavrel::zip
