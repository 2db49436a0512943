// The zip component: one archive at a time, on libzip.
//
// Calling order: set the file name; open (or create); set the options; then
// process, select or add; read counts and entry data only while the archive is
// open; close. Every operation returns a `ZipResult` as an int, 0 meaning
// success, and keeps the last failure for `lastErrorText`. Nothing throws.
//
// Process operations extract (or, with `testOnly`, check) entries. Before any
// entry is touched, every entry of the operation is checked: a stored path that
// is absolute, carries a drive or network prefix, or contains ".." and any
// symbolic-link entry make the whole operation fail with nothing written. An
// extracted file is written under a temporary name beside its target and only
// renamed over it once all of its data has arrived with a good CRC, so a
// damaged entry or a full disk never leaves a partial file behind. The file
// keeps the entry's stored time.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "components/zip/entry_path.h"

namespace tavrel::zip {

enum class ZipResult : int {
    kOk = 0,            // Success.
    kNotOpen = 1,       // No archive is open.
    kOpenFailed = 2,    // The archive is missing, unreadable or not a zip archive.
    kCreateFailed = 3,  // The archive could not be created.
    kBadIndex = 4,      // The entry number is outside 0 .. count - 1.
    kUnsafeEntry = 5,   // An entry's path or kind could write outside the target folder.
    kDamagedEntry = 6,  // An entry's data cannot be read to its end or has a bad CRC.
    kWriteFailed = 7,   // A folder or file could not be written.
    kAddFailed = 8,     // A file could not be added to the archive.
    kCloseFailed = 9,   // The archive could not be written when closed.
    kNoFileName = 10,   // No archive file name is set.
};

// Options of the process and add operations.
struct ZipOptions {
    std::string targetFolder;  // Extraction target, and base folder of added files.
    bool overwrite = false;    // Replace an existing file; without it existing files stay.
    bool skipOlder = false;    // Leave an existing file that is newer than the entry.
    bool keepPaths = true;     // Extract to the stored folder below the target folder.
    bool testOnly = false;     // Read and check entries, write nothing.
    // Flush each extracted file to the disk before it replaces its target.
    // A caller that makes a whole run durable at once (one file-system sync
    // before its journal records the run as done) turns this off.
    bool syncEachFile = true;
    // How added files are kept: 0 stored as they are, 1 (fastest) to 9
    // (smallest) deflated at that level, -1 deflated at zlib's default level.
    int compressionLevel = -1;
};

// Suffix of the file an entry is written to beside its target before it
// replaces the target; a run cut short may leave one behind.
inline constexpr std::string_view kPartialFileSuffix = ".~tvzip";

class ZipArchive {
  public:
    ZipArchive();
    ~ZipArchive();  // Closes the archive, discarding unwritten additions.
    ZipArchive(const ZipArchive&) = delete;
    ZipArchive& operator=(const ZipArchive&) = delete;

    void setFileName(std::string fileName) { m_fileName = std::move(fileName); }
    const std::string& fileName() const { return m_fileName; }
    ZipOptions& options() { return m_options; }

    // Opens the named archive (closing any open one). kOpenFailed when it does
    // not exist or is not a readable zip archive.
    int open();
    // Starts a new, empty archive under the name, replacing an existing file
    // when it is closed. An archive closed with no entries is not written.
    int create();
    // Writes added files (if any) and closes. kCloseFailed when the writing
    // fails; the archive is closed either way. Closing a closed archive is 0.
    int close();
    // Closes without writing: the file stays as it was before the archive was
    // opened or made, whatever was added since.
    void discard();
    bool isOpen() const { return m_zip != nullptr; }

    // Entries are counted from 0; 0 / empty texts when no archive is open or
    // the index is out of range.
    int entryCount() const;
    std::string entryName(int index) const;
    std::string entryFolder(int index) const;
    // The stored path as written in the archive.
    std::string entryStoredPath(int index) const;

    // Marks entry `index` (un)selected. kBadIndex when out of range.
    int selectEntry(int index, bool selected = true);
    bool isSelected(int index) const;
    int selectedCount() const;
    // Selects the entries named in a ";" list; an item with a folder part
    // ("DATA\CUSTOMER.DBF") matches the stored path, a bare name matches the
    // file name in any folder; both ignoring case. Returns how many entries
    // this call selected (0 when none or no archive is open).
    int selectByNames(std::string_view names);
    void clearSelection();

    // Adds the files matching a ";" list of masks ("DATA\*.DBF"), each relative
    // to the options' target folder (or absolute below it), stored under their
    // path relative to that folder; an entry of the same name is replaced.
    // `*added` (optional) receives the number of files taken. The archive is
    // written on close.
    int addFiles(std::string_view masks, int* added = nullptr);

    int processAll();
    int processSelected();
    int processEntry(int index);

    int lastError() const { return m_lastError; }
    // The last failure as "code: text", or "0" when the last operation succeeded.
    std::string lastErrorText() const;

  private:
    int fail(ZipResult result, std::string detail);
    int succeed();
    int process(const std::vector<int64_t>& indexes);
    int checkEntries(const std::vector<int64_t>& indexes);
    int testEntry(int64_t index);
    int extractEntry(int64_t index);
    int copyEntryData(int64_t index, const std::filesystem::path& tempPath);
    int addOneMask(std::string_view mask, int* added);

    std::string m_fileName;
    ZipOptions m_options;
    void* m_zip = nullptr;  // zip_t*, kept out of this header.
    std::vector<bool> m_selected;
    int m_lastError = 0;
    std::string m_lastDetail;
};

}  // namespace tavrel::zip
