// Engine speed against plain file I/O, side by side in one run.
//
//   BM_EngineAppend      1,000,000 appends of a ~100-byte record (C and N
//                        fields) to an exclusive table, then flush.
//   BM_PlainWrite        the same record bytes, made with the same formatting
//                        functions, written with buffered stdio, then fsync.
//   BM_EngineRead        a full sequential read of that table, every field
//                        turned into text.
//   BM_PlainRead         a plain buffered read of the file, then the same
//                        conversions done on the bytes in memory.
//
// Compare medians: Engine/Plain is the engine's overhead ratio. The counter
// peak_MB is how far the process's peak resident memory rose during the run.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "components/kes04/bench/peak_memory.h"
#include "components/kes04/field_value.h"
#include "components/kes04/table.h"

namespace {

using namespace tavrel::kes04;
namespace fs = std::filesystem;

constexpr int kRecords = 1000000;
const std::vector<FieldSpec> kFields = {{"CODE", 'C', 20, 0},
                                        {"NAME", 'C', 40, 0},
                                        {"QTY", 'N', 10, 0},
                                        {"PRICE", 'N', 12, 2},
                                        {"CITY", 'C', 16, 0}};
const char* kCities[] = {"Amsterdam", "Berlin", "Cork", "Dublin", "Essen", "Faro"};

fs::path folder() {
    static const fs::path path = [] {
        std::string pattern = (fs::temp_directory_path() / "kes04-bench-XXXXXX").string();
        return fs::path(::mkdtemp(pattern.data()));
    }();
    return path;
}

// The texts of record i, made the same way for both sides.
struct Values {
    std::string code, name, qty, price;
    const char* city;
    // Built by appending to cleared strings: g++ 12 at -O3 reports a false
    // -Wrestrict on the replace inside "literal" + std::string and assign().
    void make(int i) {
        code.clear();
        code += 'K';
        code += std::to_string(i);
        name.clear();
        name += "Customer number ";
        name += std::to_string(i * 7);
        qty = std::to_string(i % 1000);
        price = std::to_string(i % 100000);
        price += '.';
        price += std::to_string(i % 100);
        city = kCities[i % 6];
    }
};

RecordLayout layout() {
    RecordLayout l;
    std::string detail;
    layoutForCreate(kFields, &l, &detail);
    return l;
}

void BM_EngineAppend(benchmark::State& state) {
    const fs::path path = folder() / "ENGINE.DBF";
    TableOptions options;
    options.accessMode = AccessMode::kDenyRW;
    Values v;
    bench::PeakMemory memory;
    memory.start();
    for (auto _ : state) {
        std::unique_ptr<Table> table;
        std::string detail;
        if (Table::create(path, kFields, {}, false, options, &table, &detail) != 0) {
            state.SkipWithError(detail.c_str());
            return;
        }
        for (int i = 0; i < kRecords; ++i) {
            v.make(i);
            table->appendStart(false);
            table->blank();
            table->assignText(0, v.code);
            table->assignText(1, v.name);
            table->assignText(2, v.qty);
            table->assignText(3, v.price);
            table->assignText(4, v.city);
            table->append();
        }
        table->flush();
        table->close();
    }
    state.counters["peak_MB"] = memory.growthMb();
    state.SetItemsProcessed(state.iterations() * kRecords);
}

void BM_PlainWrite(benchmark::State& state) {
    const fs::path path = folder() / "PLAIN.DBF";
    const RecordLayout l = layout();
    const std::vector<uint8_t> header = buildHeader(l, 0, 2026, 12, 7);
    const std::vector<uint8_t> blank = blankRecord(l);
    std::vector<uint8_t> record(l.recordLength);
    Values v;
    bench::PeakMemory memory;
    memory.start();
    for (auto _ : state) {
        FILE* file = std::fopen(path.c_str(), "wb");
        std::fwrite(header.data(), 1, header.size(), file);
        for (int i = 0; i < kRecords; ++i) {
            v.make(i);
            std::memcpy(record.data(), blank.data(), record.size());
            assignText(l.fields[0], record.data(), v.code);
            assignText(l.fields[1], record.data(), v.name);
            assignText(l.fields[2], record.data(), v.qty);
            assignText(l.fields[3], record.data(), v.price);
            assignText(l.fields[4], record.data(), v.city);
            std::fwrite(record.data(), 1, record.size(), file);
        }
        std::fputc(0x1A, file);
        std::fflush(file);
        ::fdatasync(fileno(file));
        std::fclose(file);
    }
    state.counters["peak_MB"] = memory.growthMb();
    state.SetItemsProcessed(state.iterations() * kRecords);
}

void BM_EngineRead(benchmark::State& state) {
    const fs::path path = folder() / "ENGINE.DBF";
    TableOptions options;
    options.accessMode = AccessMode::kDenyRW;
    size_t total = 0;
    bench::PeakMemory memory;
    memory.start();
    for (auto _ : state) {
        std::unique_ptr<Table> table;
        std::string detail;
        if (Table::open(path, options, &table, &detail) != 0) {
            state.SkipWithError("run BM_EngineAppend first");
            return;
        }
        const auto& fields = table->layout().fields;
        for (int rc = table->top(); rc == 0; rc = table->skip(1)) {
            for (const FieldLayout& f : fields) total += displayText(f, table->record()).size();
        }
        table->close();
    }
    state.counters["peak_MB"] = memory.growthMb();
    benchmark::DoNotOptimize(total);
    state.SetItemsProcessed(state.iterations() * kRecords);
}

void BM_PlainRead(benchmark::State& state) {
    const fs::path path = folder() / "ENGINE.DBF";
    const RecordLayout l = layout();
    const size_t headerLength = 32 + 32 * l.fields.size() + 1;
    std::vector<uint8_t> buffer(size_t(l.recordLength) * 4096);
    size_t total = 0;
    bench::PeakMemory memory;
    memory.start();
    for (auto _ : state) {
        FILE* file = std::fopen(path.c_str(), "rb");
        std::fseek(file, long(headerLength), SEEK_SET);
        size_t got;
        while ((got = std::fread(buffer.data(), l.recordLength, 4096, file)) > 0) {
            for (size_t r = 0; r < got; ++r) {
                const uint8_t* record = buffer.data() + r * l.recordLength;
                for (const FieldLayout& f : l.fields) total += displayText(f, record).size();
            }
        }
        std::fclose(file);
    }
    state.counters["peak_MB"] = memory.growthMb();
    benchmark::DoNotOptimize(total);
    state.SetItemsProcessed(state.iterations() * kRecords);
}

// Registered in pairs, so each ratio compares neighbours of one run.
BENCHMARK(BM_PlainWrite)->Unit(benchmark::kMillisecond)->Iterations(1)->Repetitions(5);
BENCHMARK(BM_EngineAppend)->Unit(benchmark::kMillisecond)->Iterations(1)->Repetitions(5);
BENCHMARK(BM_PlainRead)->Unit(benchmark::kMillisecond)->Iterations(1)->Repetitions(5);
BENCHMARK(BM_EngineRead)->Unit(benchmark::kMillisecond)->Iterations(1)->Repetitions(5);

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    std::error_code ec;
    fs::remove_all(folder(), ec);
    return 0;
}
