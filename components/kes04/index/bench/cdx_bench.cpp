// Index speed, each beside its baseline in the same run (exclusive access):
//   Reindex/1M     vs  SortKeys/1M        (std::sort of the same 1,000,000 keys)
//   AppendThreeTags/100k vs AppendNoTags/100k, and the same for 1M records:
//                  exclusive appends of random keys, time and peak_MB (the rise
//                  of the peak resident memory during the run)
//   AppendThreeTags/1M vs AppendThreeTagsOneBatch/1M (every key held until
//                  the close: what bounded batches cost or save), and both
//                  again AfterFlush: into tags that hold an entry already
//   Seek/1M        (random hits and misses; items per second)
// Run: kes04_index_bench --benchmark_repetitions=3 --benchmark_report_aggregates_only=true
// (--benchmark_filter=Append --benchmark_repetitions=5 for the appends alone)
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "components/kes04/bench/peak_memory.h"
#include "components/kes04/index/cdx_table_index.h"
#include "components/kes04/table.h"

namespace tavrel::kes04::cdx {
namespace {

namespace fs = std::filesystem;

const fs::path& benchFolder() {
    static const fs::path dir = [] {
        fs::path p = fs::temp_directory_path() / "kes04_index_bench";
        fs::remove_all(p);
        fs::create_directories(p);
        return p;
    }();
    return dir;
}

std::string randomKey(std::mt19937_64& rng, size_t length) {
    static const char kChars[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789abcdefghijklmnopqrstuvwxyz";
    std::string s(length, ' ');
    for (char& c : s) c = kChars[rng() % (sizeof kChars - 1)];
    return s;
}

const std::vector<std::string>& millionKeys() {
    static const std::vector<std::string> keys = [] {
        std::mt19937_64 rng(1);
        std::vector<std::string> k(1000000);
        for (auto& s : k) s = randomKey(rng, 20);
        return k;
    }();
    return keys;
}

TableOptions exclusive() {
    TableOptions o;
    o.accessMode = AccessMode::kDenyRW;
    return o;
}

int setField(Table& t, size_t field, std::string_view text) { return t.assignText(field, text); }

// A 1,000,000-record table KEYS (KEY C20) with one tag on KEY, built once.
Table& millionTable() {
    static std::unique_ptr<Table> table = [] {
        setIndexFactory(&CdxTableIndex::factory);
        std::unique_ptr<Table> t;
        std::string detail;
        const std::vector<FieldSpec> fields = {{"KEY", 'C', 20, 0}};
        const std::vector<kes04::TagSpec> tags = {{"KEY", "KEY", "", TagUniqueness::kNone, false}};
        if (Table::create(benchFolder() / "KEYS", fields, tags, false, exclusive(), &t, &detail) !=
            0) {
            std::fprintf(stderr, "create failed: %s\n", detail.c_str());
            std::abort();
        }
        for (const std::string& k : millionKeys()) {
            t->appendStart(false);
            t->blank();
            setField(*t, 0, k);
            t->append();
        }
        auto* idx = static_cast<CdxTableIndex*>(t->index());
        if (t->flush() != 0 || idx->reindex() != 0) std::abort();
        idx->select(idx->findTag("KEY"));
        return t;
    }();
    return *table;
}

void SortKeys(benchmark::State& state) {
    const auto& keys = millionKeys();
    for (auto _ : state) {
        state.PauseTiming();
        std::vector<std::string> copy = keys;
        state.ResumeTiming();
        std::sort(copy.begin(), copy.end());
        benchmark::DoNotOptimize(copy.data());
    }
}
BENCHMARK(SortKeys)->Name("SortKeys/1M")->Unit(benchmark::kMillisecond)->Iterations(1);

void Reindex(benchmark::State& state) {
    Table& t = millionTable();
    auto* idx = static_cast<CdxTableIndex*>(t.index());
    for (auto _ : state)
        if (idx->reindex() != 0) state.SkipWithError("reindex failed");
}
BENCHMARK(Reindex)->Name("Reindex/1M")->Unit(benchmark::kMillisecond)->Iterations(1);

void Seek(benchmark::State& state) {
    Table& t = millionTable();
    auto* idx = static_cast<CdxTableIndex*>(t.index());
    const auto& keys = millionKeys();
    std::mt19937_64 rng(5);
    std::vector<std::string> probes(1000000);
    for (auto& p : probes) p = rng() % 2 ? keys[rng() % keys.size()] : randomKey(rng, 20);
    const bool moveTable = state.range(0) != 0;
    int64_t hits = 0;
    for (auto _ : state) {
        for (const std::string& p : probes) {
            uint32_t recno = 0;
            const int rc = idx->seek(p, &recno);
            hits += rc == 0;
            if (moveTable && recno) t.go(recno, false);
        }
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * int64_t(probes.size()));
    state.counters["hits"] = double(hits) / double(state.iterations());
}
BENCHMARK(Seek)->Name("Seek/1M")->Arg(0)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(Seek)->Name("SeekAndRead/1M")->Arg(1)->Unit(benchmark::kMillisecond)->Iterations(1);

// The fields of appended record i: a random key, name and amount, made on the
// fly for both sides of the comparison.
struct AppendRow {
    std::mt19937_64 rng{9};
    std::string key, name, amount;
    void next() {
        key = randomKey(rng, 20);
        name = randomKey(rng, 10 + rng() % 50);
        amount = std::to_string(double(rng() % 10000000) / 100);
    }
};

void appendRow(Table& t, AppendRow& row, benchmark::State& state) {
    row.next();
    t.appendStart(false);
    t.blank();
    setField(t, 0, row.key);
    setField(t, 1, row.name);
    setField(t, 2, row.amount);
    if (t.append() != 0) state.SkipWithError("append failed");
}

// Appends `count` records to a new exclusive table, with the three tags or
// none, and closes it. `batchBytes` other than 0 sets the index's batch size
// per tag. With `afterFlush` one record is appended and flushed first, so
// that the tags' trees are not empty when the run starts. peak_MB is the rise
// of the peak resident memory over the run.
void Append(benchmark::State& state, bool tags, int64_t count, size_t batchBytes, bool afterFlush) {
    setIndexFactory(&CdxTableIndex::factory);
    const std::vector<FieldSpec> fields = {
        {"KEY", 'C', 20, 0}, {"NAME", 'C', 60, 0}, {"AMOUNT", 'N', 12, 2}};
    const std::vector<kes04::TagSpec> tagList = {
        {"KEY", "KEY", "", TagUniqueness::kNone, false},
        {"NAME", "UPPER(NAME)", "", TagUniqueness::kNone, false},
        {"AMOUNT", "AMOUNT", "", TagUniqueness::kNone, false}};
    bench::PeakMemory memory;
    memory.start();
    for (auto _ : state) {
        AppendRow row;
        std::unique_ptr<Table> t;
        std::string detail;
        if (Table::create(
                benchFolder() / "APPEND", fields,
                tags ? std::span<const kes04::TagSpec>(tagList) : std::span<const kes04::TagSpec>(),
                false, exclusive(), &t, &detail) != 0) {
            state.SkipWithError(detail.c_str());
            return;
        }
        if (tags && batchBytes != 0)
            static_cast<CdxTableIndex*>(t->index())->index().setAppendBatchBytes(batchBytes);
        if (afterFlush) {
            appendRow(*t, row, state);
            if (t->flush() != 0) state.SkipWithError("flush failed");
        }
        for (int64_t i = afterFlush ? 1 : 0; i < count; ++i) appendRow(*t, row, state);
        if (t->close() != 0) state.SkipWithError("close failed");
    }
    state.counters["peak_MB"] = memory.growthMb();
}
// The appends with tags in batches of the default size, beside the same
// appends without tags and with every key held in one batch up to the close
// (as the index did before it bounded its batches).
constexpr size_t kOneBatch = size_t(1) << 30;
BENCHMARK_CAPTURE(Append, NoTags100k, false, 100000, 0, false)
    ->Name("AppendNoTags/100k")
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1);
BENCHMARK_CAPTURE(Append, ThreeTags100k, true, 100000, 0, false)
    ->Name("AppendThreeTags/100k")
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1);
BENCHMARK_CAPTURE(Append, NoTags1M, false, 1000000, 0, false)
    ->Name("AppendNoTags/1M")
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1);
BENCHMARK_CAPTURE(Append, ThreeTags1M, true, 1000000, 0, false)
    ->Name("AppendThreeTags/1M")
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1);
BENCHMARK_CAPTURE(Append, ThreeTagsOneBatch1M, true, 1000000, kOneBatch, false)
    ->Name("AppendThreeTagsOneBatch/1M")
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1);
BENCHMARK_CAPTURE(Append, ThreeTagsAfterFlush1M, true, 1000000, 0, true)
    ->Name("AppendThreeTagsAfterFlush/1M")
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1);
BENCHMARK_CAPTURE(Append, ThreeTagsAfterFlushOneBatch1M, true, 1000000, kOneBatch, true)
    ->Name("AppendThreeTagsAfterFlushOneBatch/1M")
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1);

}  // namespace
}  // namespace tavrel::kes04::cdx

BENCHMARK_MAIN();
