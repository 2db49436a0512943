// KES01.DLL against OpenSSL's SHA-1 on the same buffers, in one run.
//
// KES01 is loaded by file name and called through its exports, as the agent
// calls it; OpenSSL through EVP with the digest fetched once. Messages of
// 64 bytes, 1 KiB and 1 MiB, and the record checksum of a 200-byte text
// through MakeChecksumText. After the runs a table gives each throughput and
// the ratio KES01 / OpenSSL (medians when repeated).
//
//   kes01_bench                                  fastest path against OpenSSL
//   OPENSSL_ia32cap=:~0x20000000 KES01_PORTABLE=1 kes01_bench
//                                                portable path against OpenSSL
//                                                without its SHA instructions
#include <benchmark/benchmark.h>
#include <openssl/evp.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "agent/tables/kes01_library.h"
#include "kes01/kes01.h"
#include "kes01/sha1_compress.h"
#include "platform/dynamic_library.h"

namespace {

using Handle = SHAContextHandle;

struct Kes01Exports {
    std::unique_ptr<tavrel::platform::DynamicLibrary> library;
    decltype(&::SHACreateContext) create = nullptr;
    decltype(&::SHAInitialize) initialize = nullptr;
    decltype(&::SHAUpdateHash) update = nullptr;
    decltype(&::SHAFinalize) finalize = nullptr;
    decltype(&::SHAGetHashValue) value = nullptr;
    decltype(&::SHADestroyContext) destroy = nullptr;
};

Kes01Exports& kes01() {
    static Kes01Exports exports = [] {
        Kes01Exports e;
        std::string error;
        e.library = tavrel::platform::DynamicLibrary::open("KES01.DLL", &error);
        if (!e.library) {
            std::fprintf(stderr, "cannot load KES01.DLL: %s\n", error.c_str());
            std::exit(2);
        }
        e.create = e.library->function<decltype(e.create)>("SHACreateContext");
        e.initialize = e.library->function<decltype(e.initialize)>("SHAInitialize");
        e.update = e.library->function<decltype(e.update)>("SHAUpdateHash");
        e.finalize = e.library->function<decltype(e.finalize)>("SHAFinalize");
        e.value = e.library->function<decltype(e.value)>("SHAGetHashValue");
        e.destroy = e.library->function<decltype(e.destroy)>("SHADestroyContext");
        if (!e.create || !e.initialize || !e.update || !e.finalize || !e.value || !e.destroy) {
            std::fprintf(stderr, "KES01.DLL lacks an export\n");
            std::exit(2);
        }
        return e;
    }();
    return exports;
}

const std::string& buffer(size_t size) {
    static std::map<size_t, std::string> buffers;
    auto& bytes = buffers[size];
    if (bytes.size() != size) {
        bytes.resize(size);
        uint32_t x = 0x12345678;
        for (char& c : bytes) {
            x = x * 1664525u + 1013904223u;
            c = char(x >> 24);
        }
    }
    return bytes;
}

const EVP_MD* opensslSha1() {
    static EVP_MD* md = EVP_MD_fetch(nullptr, "SHA1", nullptr);
    return md;
}

void Kes01Message(benchmark::State& state) {
    const std::string& bytes = buffer(size_t(state.range(0)));
    Kes01Exports& k = kes01();
    const Handle handle = k.create();
    uint32_t words[5];
    for (auto _ : state) {
        k.initialize(handle);
        k.update(handle, bytes.data(), int32_t(bytes.size()));
        k.finalize(handle);
        for (int i = 0; i < 5; ++i) k.value(handle, i, &words[i]);
        benchmark::DoNotOptimize(words);
    }
    k.destroy(handle);
    state.SetBytesProcessed(int64_t(state.iterations()) * state.range(0));
}

void OpensslMessage(benchmark::State& state) {
    const std::string& bytes = buffer(size_t(state.range(0)));
    EVP_MD_CTX* ctx = EVP_MD_CTX_new();
    unsigned char md[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    for (auto _ : state) {
        EVP_DigestInit_ex2(ctx, opensslSha1(), nullptr);
        EVP_DigestUpdate(ctx, bytes.data(), bytes.size());
        EVP_DigestFinal_ex(ctx, md, &length);
        benchmark::DoNotOptimize(md);
    }
    EVP_MD_CTX_free(ctx);
    state.SetBytesProcessed(int64_t(state.iterations()) * state.range(0));
}

// The 200-byte record text: fixed-width fields with their blanks.
std::string recordText() {
    std::string text = "SMITH               JOHN                0012.50 20261207 ";
    while (text.size() < 200) text += "NOTE OF THE RECORD  ";
    text.resize(200);
    return text;
}

void Kes01ChecksumText(benchmark::State& state) {
    const std::string text = recordText();
    tavrel::tables::Kes01Library library(
        [](const std::string& line) { std::fprintf(stderr, "%s\n", line.c_str()); });
    for (auto _ : state) {
        auto checksum = tavrel::tables::MakeChecksumText(library, text);
        benchmark::DoNotOptimize(checksum);
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(text.size()));
}

// The same checksum text made with OpenSSL: one-shot digest, words H4 H2 H0 H3 H1.
void OpensslChecksumText(benchmark::State& state) {
    const std::string text = recordText();
    static const char kDigits[] = "0123456789abcdef";
    for (auto _ : state) {
        unsigned char md[EVP_MAX_MD_SIZE];
        unsigned int length = 0;
        EVP_Digest(text.data(), text.size(), md, &length, opensslSha1(), nullptr);
        std::string checksum;
        checksum.reserve(40);
        for (int word : {4, 2, 0, 3, 1}) {
            for (int i = 0; i < 4; ++i) {
                checksum += kDigits[md[4 * word + i] >> 4];
                checksum += kDigits[md[4 * word + i] & 15];
            }
        }
        benchmark::DoNotOptimize(checksum);
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(text.size()));
}

BENCHMARK(Kes01Message)->Arg(64)->Arg(1024)->Arg(1 << 20);
BENCHMARK(OpensslMessage)->Arg(64)->Arg(1024)->Arg(1 << 20);
BENCHMARK(Kes01ChecksumText);
BENCHMARK(OpensslChecksumText);

// Prints the runs as usual and keeps each benchmark's throughput (the median
// of the repetitions when there are several) for the ratio table.
class RatioReporter : public benchmark::ConsoleReporter {
  public:
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            const auto it = run.counters.find("bytes_per_second");
            if (it == run.counters.end() || run.error_occurred) continue;
            const bool median = run.run_type == Run::RT_Aggregate && run.aggregate_name == "median";
            const bool single = run.run_type == Run::RT_Iteration && run.repetitions <= 1;
            if (median || single) m_throughput[run.run_name.str()] = it->second.value;
        }
    }

    void printRatios() const {
        std::printf("\nKES01 path: %s\n",
                    tavrel::kes01::compressorName(tavrel::kes01::selectedCompressorKind()));
        const char* mask = std::getenv("OPENSSL_ia32cap");
        std::printf("OpenSSL capability mask: %s\n", mask ? mask : "(none)");
        std::printf("%-18s %14s %14s %8s\n", "case", "KES01 MB/s", "OpenSSL MB/s", "ratio");
        const std::pair<const char*, const char*> cases[] = {
            {"Kes01Message/64", "OpensslMessage/64"},
            {"Kes01Message/1024", "OpensslMessage/1024"},
            {"Kes01Message/1048576", "OpensslMessage/1048576"},
            {"Kes01ChecksumText", "OpensslChecksumText"}};
        for (const auto& [ours, theirs] : cases) {
            const auto a = m_throughput.find(ours);
            const auto b = m_throughput.find(theirs);
            if (a == m_throughput.end() || b == m_throughput.end()) continue;
            std::printf("%-18s %14.1f %14.1f %8.3f\n", std::string(ours).substr(5).c_str(),
                        a->second / 1e6, b->second / 1e6, a->second / b->second);
        }
    }

  private:
    std::map<std::string, double> m_throughput;
};

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    kes01();  // fail early when the library is missing
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    reporter.printRatios();
    benchmark::Shutdown();
    return 0;
}
