// Writes the test fixtures into a folder, as the seed corpus of kesver1_pe_fuzz:
//   kesver1_make_seeds <folder>
#include <cstdio>
#include <filesystem>

#include "kesver1/tests/pe_writer.h"

using namespace tavrel::kesver1::test;

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <folder>\n", argv[0]);
        return 2;
    }
    const std::filesystem::path folder = argv[1];
    std::filesystem::create_directories(folder);
    writeBytes(folder / "pe32_exe", typicalPe(false, false).bytes);
    writeBytes(folder / "pe64_dll", typicalPe(true, true).bytes);

    VersionSpec british = typicalVersion();
    british.translations = {{0x0809, 0x04B0}, {0x0409, 0x04E4}};
    british.stringTables.push_back({"080904B0", {{"CompanyName", u"British"}}});
    PeSpec two;
    two.versionLanguages = {{0x0809, buildVersionResource(british)},
                            {0x0409, buildVersionResource(typicalVersion())}};
    writeBytes(folder / "two_languages", buildPe(two).bytes);

    VersionSpec bare;
    bare.fileVersion.reset();
    PeSpec noFixed;
    noFixed.versionLanguages = {{0x0409, buildVersionResource(bare)}};
    writeBytes(folder / "no_fixed_info", buildPe(noFixed).bytes);

    writeBytes(folder / "version_tree", buildVersionResource(typicalVersion()));
    PeSpec none;
    writeBytes(folder / "no_version", buildPe(none).bytes);
    return 0;
}
