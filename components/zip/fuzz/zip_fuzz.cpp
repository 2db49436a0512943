// Archives from the fuzzer through every operation of the zip component, into
// a private folder. Beyond crashes and hangs it checks that nothing was
// written outside the target folder.
#include <stdlib.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "components/zip/zip_archive.h"
#include "platform/files.h"

namespace {

namespace fs = std::filesystem;

// Made on first use and removed when the run ends normally; a run stopped by
// a finding leaves it for a look. Never destroyed, so that the exit handler
// can still read it.
const fs::path& workFolder() {
    static const fs::path* folder = [] {
        std::string pattern = (fs::temp_directory_path() / "tavrel-zipfuzz-XXXXXX").string();
        if (!mkdtemp(pattern.data())) abort();
        return new fs::path(pattern);
    }();
    static const int removal = std::atexit([] { tavrel::platform::deleteFolderTree(*folder); });
    (void)removal;
    return *folder;
}

// Only the archive and the box with the target folder may exist.
void checkNothingEscaped(const fs::path& root) {
    for (const auto& entry : fs::directory_iterator(root)) {
        const std::string name = entry.path().filename().string();
        if (name != "in.zip" && name != "box") abort();
    }
    for (const auto& entry : fs::directory_iterator(root / "box")) {
        if (entry.path().filename() != "out") abort();
    }
}

void processEverything(tavrel::zip::ZipArchive& zip) {
    const int count = zip.entryCount();
    for (int i = 0; i < count && i < 64; ++i) {
        (void)zip.entryName(i);
        (void)zip.entryFolder(i);
        if (i % 2 == 0) zip.selectEntry(i);
    }
    zip.selectByNames("A.TXT;DATA\\B.DBF; ;x/y/");
    for (bool testOnly : {true, false}) {
        zip.options().testOnly = testOnly;
        zip.options().keepPaths = true;
        zip.processAll();
        zip.options().keepPaths = false;
        zip.options().skipOlder = testOnly;
        zip.processSelected();
        zip.processEntry(count - 1);
        zip.processEntry(count);
    }
    (void)zip.lastErrorText();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const fs::path& root = workFolder();
    const fs::path out = root / "box" / "out";
    tavrel::platform::ensureFolder(out);
    const fs::path archive = root / "in.zip";
    // Written plainly: a synced write per input would spend most of each run
    // waiting for the disk.
    {
        std::ofstream file(archive, std::ios::binary | std::ios::trunc);
        file.write(reinterpret_cast<const char*>(data), std::streamsize(size));
        if (!file) return 0;
    }
    {
        tavrel::zip::ZipArchive zip;
        zip.setFileName(archive.string());
        zip.options().targetFolder = out.string();
        zip.options().overwrite = true;
        // The same reason; zip_test covers the synced extraction.
        zip.options().syncEachFile = false;
        if (zip.open() == 0) {
            processEverything(zip);
            // Adding rewrites the archive on close: the writing path too.
            zip.addFiles("*.TXT;DATA\\*.*");
            zip.close();
        }
    }
    checkNothingEscaped(root);
    tavrel::platform::deleteFolderTree(out);
    tavrel::platform::deleteFile(archive);
    return 0;
}
