#include <cstdlib>
#include <cstring>

#include "kes01/sha1_compress.h"

namespace tavrel::kes01 {

namespace {

CompressorKind chooseKind() {
    const char* forced = std::getenv("KES01_PORTABLE");
    if (forced != nullptr && std::strcmp(forced, "1") == 0) return CompressorKind::kPortable;
    return hasShaExtensions() ? CompressorKind::kShaExtensions : CompressorKind::kPortable;
}

}  // namespace

CompressorKind selectedCompressorKind() {
    static const CompressorKind kind = chooseKind();
    return kind;
}

Compressor selectedCompressor() {
    static const Compressor compressor = compressorOf(selectedCompressorKind());
    return compressor;
}

Compressor compressorOf(CompressorKind kind) {
    if (kind == CompressorKind::kShaExtensions && hasShaExtensions()) {
        return compressShaExtensions;
    }
    return compressPortable;
}

const char* compressorName(CompressorKind kind) {
    return kind == CompressorKind::kShaExtensions ? "sha-extensions" : "portable";
}

}  // namespace tavrel::kes01
