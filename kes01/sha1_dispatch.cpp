#include "kes01/sha1_compress.h"
#include "platform/environment.h"

namespace tavrel::kes01 {

namespace {

CompressorKind chooseKind() {
    if (platform::environmentValue("KES01_PORTABLE") == "1") return CompressorKind::kPortable;
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
