// The exports of KESVER1.dll: argument checks, string handling and a catch-all
// around the reading rules of version_record.h and the About File dialog.
#include "kesver1/kesver1.h"

#include <array>
#include <utility>

#include "kesver1/about_file.h"
#include "kesver1/byte_string.h"
#include "kesver1/version_record.h"

namespace {

using namespace tavrel::kesver1;

std::filesystem::path pathOf(const char* string) {
    return std::filesystem::path(std::string(zeroTerminatedView(string)));
}

// Stores every text into its variable, or none of them when memory runs out.
template <size_t N>
bool storeAll(const std::array<Kesver1String*, N>& variables,
              const std::array<std::string, N>& texts) {
    std::array<char*, N> fresh{};
    for (size_t i = 0; i < N; ++i) {
        fresh[i] = allocByteString(texts[i].data(), static_cast<uint32_t>(texts[i].size()));
        if (fresh[i]) continue;
        for (char* made : fresh) freeByteString(made);
        return false;
    }
    for (size_t i = 0; i < N; ++i) {
        freeByteString(*variables[i]);
        *variables[i] = fresh[i];
    }
    return true;
}

int32_t storeParts(int32_t which, const std::array<Kesver1String*, 4>& variables) {
    for (Kesver1String* variable : variables) {
        if (!variable) return 0;
    }
    const auto parts = selectParts(CurrentRecord::get(), which);
    if (!parts) return 0;
    std::array<std::string, 4> texts;
    for (size_t i = 0; i < 4; ++i) texts[i] = partText((*parts)[i]);
    return storeAll(variables, texts) ? 1 : 0;
}

}  // namespace

extern "C" {

KESVER1_API int32_t KESVER1_CALL EXTRACTVERSIONINFO(Kesver1String* path) {
    try {
        if (!path) return 0;
        VersionRecord record;
        const bool found = extractVersionInfo(pathOf(*path), record);
        CurrentRecord::set(std::move(record));
        return found ? 1 : 0;
    } catch (...) {
        return 0;
    }
}

KESVER1_API int32_t KESVER1_CALL GET_VERINFO(int32_t which, Kesver1String* part1,
                                             Kesver1String* part2, Kesver1String* part3,
                                             Kesver1String* part4) {
    try {
        return storeParts(which, {part1, part2, part3, part4});
    } catch (...) {
        return 0;
    }
}

KESVER1_API int32_t KESVER1_CALL GET_FILEVERSION(Kesver1String* part1, Kesver1String* part2,
                                                 Kesver1String* part3, Kesver1String* part4) {
    return GET_VERINFO(KESVER1_FILE_VERSION, part1, part2, part3, part4);
}

KESVER1_API int32_t KESVER1_CALL GET_PRODUCTVERSION(Kesver1String* part1, Kesver1String* part2,
                                                    Kesver1String* part3, Kesver1String* part4) {
    return GET_VERINFO(KESVER1_PRODUCT_VERSION, part1, part2, part3, part4);
}

KESVER1_API int32_t KESVER1_CALL GET_RETURNVERSION(int32_t which, Kesver1String* text) {
    try {
        if (!text) return 0;
        const auto dotted = dottedVersion(CurrentRecord::get(), which);
        if (!dotted) return 0;
        return storeAll<1>({text}, {*dotted}) ? 1 : 0;
    } catch (...) {
        return 0;
    }
}

KESVER1_API int32_t KESVER1_CALL EXTRACTFILEBUILDINFO(Kesver1String* path, int32_t which) {
    try {
        if (!path) return 0;
        return extractBuildNumber(pathOf(*path), which);
    } catch (...) {
        return 0;
    }
}

KESVER1_API void KESVER1_CALL ABOUT_FILE(intptr_t owner, Kesver1String folder,
                                         Kesver1String fileName) {
    try {
        showAboutFile(owner, std::string(zeroTerminatedView(folder)),
                      std::string(zeroTerminatedView(fileName)));
    } catch (...) {
        // Nothing may leave the library; the dialog simply does not show.
    }
}

}  // extern "C"
