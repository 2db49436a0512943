#include "agent/tables/kes01_library.h"

#include <algorithm>
#include <climits>
#include <cstring>

namespace tavrel::tables {

namespace {

// The exports' types, calling convention included, as the library declares them.
using CreateFn = decltype(&::SHACreateContext);
using HandleFn = decltype(&::SHAInitialize);
using UpdateFn = decltype(&::SHAUpdateHash);
using StringFn = decltype(&::SHAGetHashString);

// The six exports the agent uses, by index.
enum Export : size_t { kCreate, kInitialize, kUpdate, kFinalize, kGetString, kDestroy };
constexpr const char* kExportNames[] = {"SHACreateContext", "SHAInitialize",
                                        "SHAUpdateHash",    "SHAFinalize",
                                        "SHAGetHashString", "SHADestroyContext"};

}  // namespace

Kes01Library::Kes01Library(LogLine log, std::string fileName)
    : m_exports(std::move(fileName), kExportNames, std::move(log)) {}

Kes01Library::~Kes01Library() = default;

void Kes01Library::log(const std::string& line) const { m_exports.log(line); }

Kes01Handle Kes01Library::SHACreateContext() {
    auto fn = m_exports.function<CreateFn>(kCreate);
    return fn ? fn() : 0;
}

Kes01Result Kes01Library::SHAInitialize(Kes01Handle handle) {
    auto fn = m_exports.function<HandleFn>(kInitialize);
    return fn ? Kes01Result(fn(handle)) : Kes01Result::kUnavailable;
}

Kes01Result Kes01Library::SHAUpdateHash(Kes01Handle handle, const void* data, int32_t length) {
    auto fn = m_exports.function<UpdateFn>(kUpdate);
    return fn ? Kes01Result(fn(handle, data, length)) : Kes01Result::kUnavailable;
}

Kes01Result Kes01Library::SHAFinalize(Kes01Handle handle) {
    auto fn = m_exports.function<HandleFn>(kFinalize);
    return fn ? Kes01Result(fn(handle)) : Kes01Result::kUnavailable;
}

Kes01Result Kes01Library::SHAGetHashString(Kes01Handle handle, char* buffer) {
    auto fn = m_exports.function<StringFn>(kGetString);
    return fn ? Kes01Result(fn(handle, buffer)) : Kes01Result::kUnavailable;
}

Kes01Result Kes01Library::SHADestroyContext(Kes01Handle handle) {
    auto fn = m_exports.function<HandleFn>(kDestroy);
    return fn ? Kes01Result(fn(handle)) : Kes01Result::kUnavailable;
}

namespace {

// Feeds, finalizes and reads the digest text of an open context into `digest`
// (45 bytes); the first failing call's name and result, or none.
std::optional<std::pair<const char*, Kes01Result>> hashInto(Kes01Library& library,
                                                            Kes01Handle handle,
                                                            std::string_view text, char* digest) {
    Kes01Result result = library.SHAInitialize(handle);
    if (result != Kes01Result::kSuccess) return std::pair("SHAInitialize", result);
    // One call for any text a table holds; longer texts go in pieces the
    // library's 32-bit length can carry.
    size_t offset = 0;
    do {
        const size_t piece = std::min<size_t>(text.size() - offset, INT32_MAX);
        result = library.SHAUpdateHash(handle, text.data() + offset, int32_t(piece));
        if (result != Kes01Result::kSuccess) return std::pair("SHAUpdateHash", result);
        offset += piece;
    } while (offset < text.size());
    result = library.SHAFinalize(handle);
    if (result != Kes01Result::kSuccess) return std::pair("SHAFinalize", result);
    result = library.SHAGetHashString(handle, digest);
    if (result != Kes01Result::kSuccess) return std::pair("SHAGetHashString", result);
    return std::nullopt;
}

}  // namespace

std::optional<std::string> MakeChecksumText(Kes01Library& library, std::string_view text) {
    ChecksumMaker maker(library);
    return maker.make(text);
}

ChecksumMaker::~ChecksumMaker() {
    if (m_handle != 0) m_library.SHADestroyContext(m_handle);
}

std::optional<std::string> ChecksumMaker::make(std::string_view text) {
    std::string checksum(kChecksumLength, ' ');
    if (!make(text, checksum.data())) return std::nullopt;
    return checksum;
}

bool ChecksumMaker::make(std::string_view text, char* checksum) {
    if (m_handle == 0) m_handle = m_library.SHACreateContext();
    if (m_handle == 0) {
        m_library.log("Checksum not made: " + m_library.fileName() + " gave no hashing context");
        return false;
    }
    char digest[46] = {};
    const auto failure = hashInto(m_library, m_handle, text, digest);
    if (failure) {
        m_library.SHADestroyContext(m_handle);
        m_handle = 0;
        m_library.log("Checksum not made: " + m_library.fileName() + " " + failure->first +
                      " returned " + std::to_string(int32_t(failure->second)));
        return false;
    }
    // The digest text is "H0-H1-H2-H3-H4", eight digits a word; the checksum
    // puts the words in the order H4, H2, H0, H3, H1.
    for (int word : {4, 2, 0, 3, 1}) {
        std::memcpy(checksum, digest + size_t(word) * 9, 8);
        checksum += 8;
    }
    return true;
}

}  // namespace tavrel::tables
