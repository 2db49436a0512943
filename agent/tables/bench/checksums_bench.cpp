// StampTableChecksums against the hashing it cannot avoid, side by side in one run.
//
//   BM_PlainSha1           200,000 SHA-1 digests (OpenSSL, digest fetched once)
//                          of the bytes CHECK_SUM covers, taken from the data
//                          file before the timing.
//   BM_MakeChecksumText    the same 200,000 texts through MakeChecksumText
//                          (KES01.DLL as the agent calls it: one context each).
//   BM_StampTableChecksums StampTableChecksums on the demo table CUSTOMER of
//                          200,000 records with its three tags, through the
//                          bound KES04.DLL and KES01.DLL, the table opened
//                          exclusively as the conversion opens it, with the
//                          conversion's mode 3000 (flush, sync, unlock).
//   BM_StampTableChecksumsBeforeSync  the same run with mode 1000 (unlock),
//                          the close that writes the last block and syncs
//                          the file to the disk left out of the timing.
//
// Compare medians: Stamp / PlainSha1 is what the engine work adds to hashing.
#include <benchmark/benchmark.h>
#include <openssl/evp.h>
#include <stdlib.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "agent/tables/engine_fields.h"
#include "agent/tables/record_checksums.h"

namespace {

using namespace tavrel::tables;
namespace fs = std::filesystem;

constexpr long kRecords = 200000;

void ignoreLine(const std::string& line) { std::fprintf(stderr, "%s\n", line.c_str()); }

struct Tools {
    Kes04Library kes04{ignoreLine};
    DatabaseEngine engine{kes04};
    Kes01Library kes01{ignoreLine};
    fs::path folder;
};

fs::path tablePath(const Tools& t) { return t.folder / "CUSTOMER"; }

// CUSTOMER as the demo defines it, filled with 200,000 records.
void makeCustomer(Tools& t) {
    const FIELD4INFO fields[] = {{"CHECK_SUM", 'C', 40, 0, 0}, {"CODE", 'C', 10, 0, 0},
                                 {"NAME", 'C', 40, 0, 0},      {"BALANCE", 'N', 12, 2, 0},
                                 {"OPENED", 'D', 8, 0, 0},     {"ACTIVE", 'L', 1, 0, 0},
                                 {"NOTES", 'M', 10, 0, 0},     {nullptr, 0, 0, 0, 0}};
    const TAG4INFO tags[] = {{"CODE", "CODE", "", 20, 0},
                             {"NAME", "UPPER(NAME)", "", 0, 0},
                             {"OPEN", "CODE", "BALANCE > 0", 0, 0},
                             {nullptr, nullptr, nullptr, 0, 0}};
    Kes04Library& k = t.kes04;
    DATA4* data = K4(k, d4create, t.engine.handle(), tablePath(t).c_str(), fields, tags);
    if (data == nullptr) {
        std::fprintf(stderr, "cannot create CUSTOMER\n");
        std::exit(2);
    }
    for (long i = 0; i < kRecords; ++i) {
        K4(k, d4appendStart, data, short(0));
        K4(k, d4blank, data);
        writeField(t.engine, data, "CODE", "C" + std::to_string(i));
        writeField(t.engine, data, "NAME", "Customer " + std::to_string(i * 7919 % kRecords));
        writeField(t.engine, data, "BALANCE", std::to_string(i % 2000 - 500) + ".25");
        writeField(t.engine, data, "OPENED", "2026" + std::to_string(1001 + i % 28));
        writeField(t.engine, data, "ACTIVE", i % 3 ? "T" : "F");
        if (i % 10 == 0) writeField(t.engine, data, "NOTES", "note of " + std::to_string(i));
        K4(k, d4append, data);
    }
    K4(k, d4close, data);
}

Tools& tools() {
    static Tools t;
    static const bool ready = [] {
        std::string pattern = (fs::temp_directory_path() / "checksum-bench-XXXXXX").string();
        t.folder = ::mkdtemp(pattern.data());
        if (!t.engine.start()) std::exit(2);
        // Tables are made and stamped as the conversion does it: opened
        // exclusively, with the conversion's settings.
        static ConversionSettings settings(t.engine);
        settings.apply();
        makeCustomer(t);
        return true;
    }();
    (void)ready;
    return t;
}

// The bytes CHECK_SUM covers in each record, read from the data file: the
// record after its deletion flag and the 40 bytes of the checksum itself.
const std::vector<std::string>& recordTexts() {
    static const std::vector<std::string> texts = [] {
        std::vector<std::string> out;
        fs::path file = tablePath(tools());
        file += ".DBF";
        if (!fs::exists(file)) file.replace_extension(".dbf");
        std::ifstream in(file, std::ios::binary);
        const std::string bytes{std::istreambuf_iterator<char>(in), {}};
        const auto u16 = [&](size_t at) {
            return size_t(uint8_t(bytes[at])) | size_t(uint8_t(bytes[at + 1])) << 8;
        };
        const size_t header = u16(8), width = u16(10);
        for (size_t at = header; at + width <= bytes.size(); at += width) {
            out.push_back(bytes.substr(at + 41, width - 41));
        }
        return out;
    }();
    return texts;
}

void BM_PlainSha1(benchmark::State& state) {
    const auto& texts = recordTexts();
    EVP_MD* sha1 = EVP_MD_fetch(nullptr, "SHA1", nullptr);
    EVP_MD_CTX* context = EVP_MD_CTX_new();
    unsigned char md[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    for (auto _ : state) {
        for (const std::string& text : texts) {
            EVP_DigestInit_ex(context, sha1, nullptr);
            EVP_DigestUpdate(context, text.data(), text.size());
            EVP_DigestFinal_ex(context, md, &length);
            benchmark::DoNotOptimize(md);
        }
    }
    EVP_MD_CTX_free(context);
    EVP_MD_free(sha1);
    state.counters["records"] = double(texts.size());
}

void BM_MakeChecksumText(benchmark::State& state) {
    const auto& texts = recordTexts();
    Kes01Library& kes01 = tools().kes01;
    for (auto _ : state) {
        for (const std::string& text : texts)
            benchmark::DoNotOptimize(MakeChecksumText(kes01, text));
    }
    state.counters["records"] = double(texts.size());
}

// One stamping run per iteration on the table opened afresh. With `mode`
// 1000 the run ends by unlocking, and the close, which writes the last block
// and syncs the file to the disk, is left out of the timing.
void stampRuns(benchmark::State& state, int32_t mode) {
    Tools& t = tools();
    recordTexts();
    for (auto _ : state) {
        DATA4* data = t.engine.open(tablePath(t).string());
        if (data == nullptr) {
            state.SkipWithError("cannot open CUSTOMER");
            return;
        }
        ChecksumTools checksumTools{t.engine, t.kes01};
        if (StampTableChecksums(checksumTools, data, mode) != ChecksumResult::kDone) {
            state.SkipWithError("stamping failed");
        }
        if (mode == 1000) state.PauseTiming();
        K4(t.kes04, d4close, data);
        if (mode == 1000) state.ResumeTiming();
    }
    state.counters["records"] = double(kRecords);
}

// As the conversion stamps: flush (with the sync to the disk), then unlock.
void BM_StampTableChecksums(benchmark::State& state) { stampRuns(state, 3000); }
// The same run up to the flush: what the engine and the hashing cost.
void BM_StampTableChecksumsBeforeSync(benchmark::State& state) { stampRuns(state, 1000); }

BENCHMARK(BM_PlainSha1)->Unit(benchmark::kMillisecond)->Iterations(1)->Repetitions(5);
BENCHMARK(BM_MakeChecksumText)->Unit(benchmark::kMillisecond)->Iterations(1)->Repetitions(5);
BENCHMARK(BM_StampTableChecksums)->Unit(benchmark::kMillisecond)->Iterations(1)->Repetitions(5);
BENCHMARK(BM_StampTableChecksumsBeforeSync)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1)
    ->Repetitions(5);

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    Tools& t = tools();
    t.engine.close();
    std::error_code ec;
    fs::remove_all(t.folder, ec);
    return 0;
}
