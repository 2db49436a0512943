// Adding files to the archive by masks relative to the base folder.
#include <zip.h>

#include <algorithm>

#include "components/zip/zip_archive.h"
#include "platform/files.h"
#include "platform/text_rules.h"

namespace tavrel::zip {
namespace {

std::string withSlashes(std::string_view text) {
    std::string out(text);
    for (char& c : out) {
        if (c == '\\') c = '/';
    }
    return out;
}

}  // namespace

int ZipArchive::addFiles(std::string_view masks, int* added) {
    if (added) *added = 0;
    if (!m_zip) return fail(ZipResult::kNotOpen, "no archive is open");
    int count = 0;
    for (size_t start = 0; start <= masks.size();) {
        size_t cut = masks.find(';', start);
        if (cut == std::string_view::npos) cut = masks.size();
        const std::string_view mask = platform::trimText(masks.substr(start, cut - start));
        start = cut + 1;
        if (mask.empty()) continue;
        const int rc = addOneMask(mask, &count);
        if (added) *added = count;
        if (rc != 0) return rc;
    }
    m_selected.resize(size_t(entryCount()), false);
    return succeed();
}

int ZipArchive::addOneMask(std::string_view maskText, int* added) {
    std::string mask = withSlashes(maskText);
    const std::string base = platform::withTrailingSeparator(withSlashes(m_options.targetFolder));
    if (!mask.empty() && mask.front() == '/') {
        // An absolute path is taken only below the base folder, so the stored
        // names stay relative and extract back to the same places.
        if (base.empty() || !platform::startsWithIgnoringCase(mask, base))
            return fail(ZipResult::kAddFailed,
                        "not below the base folder: " + std::string(maskText));
        mask.erase(0, base.size());
    }
    const std::string stored = normalEntryPath(mask);
    if (stored.empty() || isUnsafeEntryPath(stored))
        return fail(ZipResult::kAddFailed, "bad file mask: " + std::string(maskText));
    const EntryPath parts = splitEntryPath(stored);
    const std::string folder = platform::joinPath(base, parts.folder);
    const platform::fs::path diskFolder = platform::resolvePath(folder.empty() ? "." : folder);
    for (const std::string& file : platform::listFiles(diskFolder)) {
        if (!matchesMask(file, parts.name)) continue;
        const std::string name = parts.folder.empty() ? file : parts.folder + "/" + file;
        const platform::fs::path source = diskFolder / file;
        zip_error_t error;
        zip_error_init(&error);
        zip_source_t* src = zip_source_file_create(source.c_str(), 0, -1, &error);
        zip_error_fini(&error);
        if (!src) return fail(ZipResult::kAddFailed, "cannot read " + source.string());
        const zip_int64_t index = zip_file_add(static_cast<zip_t*>(m_zip), name.c_str(), src,
                                               ZIP_FL_OVERWRITE | ZIP_FL_ENC_UTF_8);
        if (index < 0) {
            zip_source_free(src);
            return fail(ZipResult::kAddFailed, "cannot add " + name);
        }
        const int level = m_options.compressionLevel;
        if (level >= 0 &&
            zip_set_file_compression(static_cast<zip_t*>(m_zip), zip_uint64_t(index),
                                     level == 0 ? ZIP_CM_STORE : ZIP_CM_DEFLATE,
                                     zip_uint32_t(std::min(level, 9))) != 0) {
            return fail(ZipResult::kAddFailed, "cannot set the compression of " + name);
        }
        ++*added;
    }
    return 0;
}

}  // namespace tavrel::zip
