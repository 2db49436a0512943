// Extracting a package of many files: the component against `unzip -o`, in
// one run on the same package and the same kind of target folder.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "components/zip/zip_archive.h"

namespace {

namespace fs = std::filesystem;

constexpr int kFiles = 400;

// A package like an update: a few folders, files of 1 to 64 KiB of text-like
// data that deflates as program files and tables do.
const fs::path& package() {
    static const fs::path root = [] {
        std::string pattern = (fs::temp_directory_path() / "tavrel-zipbench-XXXXXX").string();
        if (!mkdtemp(pattern.data())) abort();
        const fs::path folder = fs::path(pattern);
        uint32_t seed = 12345;
        for (int i = 0; i < kFiles; ++i) {
            const fs::path file = folder / "src" / ("DIR" + std::to_string(i % 8)) /
                                  ("FILE" + std::to_string(i) + ".DAT");
            fs::create_directories(file.parent_path());
            std::string data;
            const size_t size = 1024 + size_t(i * 7919) % (63 * 1024);
            while (data.size() < size) {
                seed = seed * 1103515245u + 12345u;
                data += "RECORD " + std::to_string(seed % 1000) + " CUSTOMER NAME ADDRESS\r\n";
            }
            std::ofstream(file, std::ios::binary) << data;
        }
        const std::string cmd = "cd '" + (folder / "src").string() + "' && zip -qr ../pkg.zip .";
        if (std::system(cmd.c_str()) != 0) abort();
        return folder;
    }();
    return root;
}

void BM_ZipArchiveExtract(benchmark::State& state) {
    const fs::path root = package();
    const fs::path target = root / "out-component";
    for (auto _ : state) {
        fs::remove_all(target);
        tavrel::zip::ZipArchive zip;
        zip.setFileName((root / "pkg.zip").string());
        if (zip.open() != 0) state.SkipWithError("open failed");
        zip.options().targetFolder = target.string();
        zip.options().overwrite = true;
        if (zip.processAll() != 0) state.SkipWithError(zip.lastErrorText().c_str());
        zip.close();
    }
    state.SetItemsProcessed(state.iterations() * kFiles);
}

void BM_UnzipCommand(benchmark::State& state) {
    const fs::path root = package();
    const fs::path target = root / "out-unzip";
    const std::string cmd =
        "unzip -o -qq '" + (root / "pkg.zip").string() + "' -d '" + target.string() + "'";
    for (auto _ : state) {
        fs::remove_all(target);
        if (std::system(cmd.c_str()) != 0) state.SkipWithError("unzip failed");
    }
    state.SetItemsProcessed(state.iterations() * kFiles);
}

BENCHMARK(BM_ZipArchiveExtract)
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(7)
    ->ReportAggregatesOnly(true);
BENCHMARK(BM_UnzipCommand)
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(7)
    ->ReportAggregatesOnly(true);

}  // namespace

BENCHMARK_MAIN();
