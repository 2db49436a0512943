#include "components/zip/zip_archive.h"

#include <zip.h>

#include "platform/files.h"
#include "platform/text_rules.h"

namespace tavrel::zip {
namespace {

zip_t* zipOf(void* handle) { return static_cast<zip_t*>(handle); }

bool hasFolderPart(std::string_view item) {
    return item.find('/') != std::string_view::npos || item.find('\\') != std::string_view::npos;
}

}  // namespace

ZipArchive::ZipArchive() = default;

ZipArchive::~ZipArchive() { discard(); }

int ZipArchive::fail(ZipResult result, std::string detail) {
    m_lastError = int(result);
    m_lastDetail = std::move(detail);
    return m_lastError;
}

int ZipArchive::succeed() {
    m_lastError = 0;
    m_lastDetail.clear();
    return 0;
}

std::string ZipArchive::lastErrorText() const {
    if (m_lastError == 0) return "0";
    return std::to_string(m_lastError) + ": " + m_lastDetail;
}

int ZipArchive::open() {
    close();
    if (m_fileName.empty()) return fail(ZipResult::kNoFileName, "no archive name");
    const platform::fs::path path = platform::resolvePath(m_fileName);
    int error = 0;
    // Read-write so that files can be added; a read-only archive still opens
    // for extraction.
    zip_t* zip = zip_open(path.c_str(), 0, &error);
    if (!zip) zip = zip_open(path.c_str(), ZIP_RDONLY, &error);
    if (!zip) {
        zip_error_t ze;
        zip_error_init_with_code(&ze, error);
        std::string text = zip_error_strerror(&ze);
        zip_error_fini(&ze);
        return fail(ZipResult::kOpenFailed, "cannot open " + m_fileName + ": " + text);
    }
    m_zip = zip;
    m_selected.assign(size_t(entryCount()), false);
    return succeed();
}

int ZipArchive::create() {
    close();
    if (m_fileName.empty()) return fail(ZipResult::kNoFileName, "no archive name");
    const platform::fs::path path = platform::resolvePath(m_fileName);
    int error = 0;
    zip_t* zip = zip_open(path.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &error);
    if (!zip) return fail(ZipResult::kCreateFailed, "cannot create " + m_fileName);
    m_zip = zip;
    m_selected.clear();
    return succeed();
}

int ZipArchive::close() {
    if (!m_zip) return succeed();
    zip_t* zip = zipOf(m_zip);
    m_zip = nullptr;
    m_selected.clear();
    if (zip_close(zip) != 0) {
        std::string text = zip_strerror(zip);
        zip_discard(zip);
        return fail(ZipResult::kCloseFailed, "cannot write " + m_fileName + ": " + text);
    }
    return succeed();
}

void ZipArchive::discard() {
    if (!m_zip) return;
    zip_discard(zipOf(m_zip));
    m_zip = nullptr;
    m_selected.clear();
}

int ZipArchive::entryCount() const {
    if (!m_zip) return 0;
    const zip_int64_t count = zip_get_num_entries(zipOf(m_zip), 0);
    // The callers count entries in 32 bits; larger archives are not offered.
    return count < 0 ? 0 : (count > INT32_MAX ? INT32_MAX : int(count));
}

std::string ZipArchive::entryStoredPath(int index) const {
    if (!m_zip || index < 0 || index >= entryCount()) return {};
    const char* name = zip_get_name(zipOf(m_zip), zip_uint64_t(index), ZIP_FL_ENC_GUESS);
    return name ? std::string(name) : std::string();
}

std::string ZipArchive::entryName(int index) const {
    return splitEntryPath(entryStoredPath(index)).name;
}

std::string ZipArchive::entryFolder(int index) const {
    return splitEntryPath(entryStoredPath(index)).folder;
}

int ZipArchive::selectEntry(int index, bool selected) {
    if (!m_zip) return fail(ZipResult::kNotOpen, "no archive is open");
    if (index < 0 || size_t(index) >= m_selected.size())
        return fail(ZipResult::kBadIndex, "no entry " + std::to_string(index));
    m_selected[size_t(index)] = selected;
    return succeed();
}

bool ZipArchive::isSelected(int index) const {
    return index >= 0 && size_t(index) < m_selected.size() && m_selected[size_t(index)];
}

int ZipArchive::selectedCount() const {
    int count = 0;
    for (bool s : m_selected) count += s ? 1 : 0;
    return count;
}

void ZipArchive::clearSelection() { m_selected.assign(m_selected.size(), false); }

int ZipArchive::selectByNames(std::string_view names) {
    if (!m_zip) return 0;
    std::vector<std::string_view> items;
    for (size_t start = 0; start <= names.size();) {
        size_t cut = names.find(';', start);
        if (cut == std::string_view::npos) cut = names.size();
        const std::string_view item = platform::trimText(names.substr(start, cut - start));
        if (!item.empty()) items.push_back(item);
        start = cut + 1;
    }
    int count = 0;
    for (size_t i = 0; i < m_selected.size(); ++i) {
        const std::string stored = entryStoredPath(int(i));
        const std::string path = normalEntryPath(stored);
        const std::string name = splitEntryPath(stored).name;
        for (std::string_view item : items) {
            const bool match = hasFolderPart(item)
                                   ? platform::sameTextIgnoringCase(normalEntryPath(item), path)
                                   : !name.empty() && platform::sameTextIgnoringCase(item, name);
            if (!match) continue;
            if (!m_selected[i]) ++count;
            m_selected[i] = true;
            break;
        }
    }
    return count;
}

}  // namespace tavrel::zip
