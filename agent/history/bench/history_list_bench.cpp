// LoadUpdateList against the same reads made directly through the engine's C
// interface, side by side in one run, on a TABLEUPL of 10,000 records.
//
//   BM_ReadFieldsCApi     open, DATE_BACK order, every record not deleted,
//                         the six listed fields copied out (fields looked up
//                         once), close: what any list of the table must cost.
//   BM_LoadUpdateList     LoadUpdateList into an empty list.
//   BM_RefreshUpdateList  LoadUpdateList into a list that holds every item
//                         already (the refresh after an update).
//
// Compare medians: Load / ReadFieldsCApi is the cost of the list rules.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "agent/history/history_table.h"
#include "agent/tables/engine_fields.h"

namespace {

using namespace tavrel;
using tables::Kes04Library;
namespace fs = std::filesystem;

constexpr long kRecords = 10000;

void printLine(const std::string& line) { std::fprintf(stderr, "%s\n", line.c_str()); }

struct Bench {
    Kes04Library kes04{printLine};
    tables::DatabaseEngine engine{kes04};
    platform::FixedClock clock{platform::DateTime{2026, 3, 1, 10, 0, 0}};
    fs::path folder;
    std::unique_ptr<history::HistoryTable> table;
};

void fill(Bench& b) {
    const FIELD4INFO fields[] = {
        {"UPDATE_KEY", 'C', 10, 0, 0}, {"UPDATE_ZIP", 'C', 20, 0, 0}, {"TYPE", 'C', 1, 0, 0},
        {"ACT_FLAG", 'C', 1, 0, 0},    {"CREATE_BY", 'C', 20, 0, 0},  {"UPDATE_ON", 'C', 14, 0, 0},
        {"UPDATE_BY", 'C', 20, 0, 0},  {"RESULT", 'C', 1, 0, 0},      {"DESC_TEXT", 'C', 100, 0, 0},
        {"DESC_MEMO", 'M', 10, 0, 0},  {nullptr, 0, 0, 0, 0}};
    const TAG4INFO tags[] = {{"UPDATE", "UPDATE_KEY+UPDATE_ZIP", "", 0, 0},
                             {"DATE_BACK", "UPDATE_ON", "", 0, 10},
                             {nullptr, nullptr, nullptr, 0, 0}};
    const std::string path = (b.folder / "TABLEUPL").string();
    DATA4* data = K4(b.kes04, d4create, b.engine.handle(), path.c_str(), fields, tags);
    if (data == nullptr) std::exit(2);
    char on[16];
    for (long i = 0; i < kRecords; ++i) {
        K4(b.kes04, d4appendStart, data, short(0));
        K4(b.kes04, d4blank, data);
        std::snprintf(on, sizeof on, "2026%02ld%02ld%06ld", 1 + i % 12, 1 + i % 28, i);
        tables::writeField(b.engine, data, "UPDATE_KEY", "TAVREL" + std::to_string(1000 + i));
        tables::writeField(b.engine, data, "UPDATE_ZIP", "TAVREL" + std::to_string(i) + ".ZIP");
        tables::writeField(b.engine, data, "TYPE", i % 3 == 0 ? "T" : "G");
        tables::writeField(b.engine, data, "UPDATE_ON", on);
        tables::writeField(b.engine, data, "UPDATE_BY", "03/01/2026 10:00:00");
        tables::writeField(b.engine, data, "RESULT", i % 17 == 0 ? "F" : "S");
        tables::writeField(b.engine, data, "DESC_TEXT", "Installed update " + std::to_string(i));
        tables::writeField(b.engine, data, "DESC_MEMO", "report");
        K4(b.kes04, d4append, data);
    }
    K4(b.kes04, d4close, data);
}

Bench& bench() {
    static Bench b;
    static const bool ready = [] {
        std::string pattern = (fs::temp_directory_path() / "history-bench-XXXXXX").string();
        b.folder = ::mkdtemp(pattern.data());
        if (!b.engine.start()) std::exit(2);
        fill(b);
        b.table = std::make_unique<history::HistoryTable>(b.engine, b.clock, b.folder.string());
        return true;
    }();
    (void)ready;
    return b;
}

void BM_ReadFieldsCApi(benchmark::State& state) {
    Bench& b = bench();
    Kes04Library& k = b.kes04;
    size_t items = 0;
    for (auto _ : state) {
        DATA4* data = K4(k, d4open, b.engine.handle(), (b.folder / "TABLEUPL").c_str());
        K4(k, d4tagSelect, data, K4(k, d4tag, data, "DATE_BACK"));
        FIELD4* fields[history::kUpdateListColumns.size()];
        for (size_t c = 0; c < std::size(fields); ++c) {
            fields[c] =
                K4(k, d4field, data, std::string(history::kUpdateListColumns[c].field).c_str());
        }
        items = 0;
        for (int rc = K4(k, d4top, data); rc == 0; rc = K4(k, d4skip, data, 1L)) {
            if (K4(k, d4deleted, data) != 0) continue;
            std::string texts[std::size(fields)];
            for (size_t c = 0; c < std::size(fields); ++c) {
                texts[c].assign(K4(k, f4ptr, fields[c]), size_t(K4(k, f4len_v, fields[c])));
            }
            benchmark::DoNotOptimize(texts);
            ++items;
        }
        K4(k, d4close, data);
    }
    state.counters["items"] = double(items);
}

void BM_LoadUpdateList(benchmark::State& state) {
    Bench& b = bench();
    size_t items = 0;
    for (auto _ : state) {
        history::UpdateListModel list;
        b.table->LoadUpdateList(list, true, -1, {});
        items = list.count();
    }
    state.counters["items"] = double(items);
}

void BM_RefreshUpdateList(benchmark::State& state) {
    Bench& b = bench();
    history::UpdateListModel list;
    b.table->LoadUpdateList(list, true, -1, {});
    for (auto _ : state) b.table->LoadUpdateList(list, true, -1, {});
    state.counters["items"] = double(list.count());
}

BENCHMARK(BM_ReadFieldsCApi)->Unit(benchmark::kMillisecond)->Repetitions(5);
BENCHMARK(BM_LoadUpdateList)->Unit(benchmark::kMillisecond)->Repetitions(5);
BENCHMARK(BM_RefreshUpdateList)->Unit(benchmark::kMillisecond)->Repetitions(5);

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    Bench& b = bench();
    b.table.reset();
    b.engine.close();
    std::error_code ec;
    fs::remove_all(b.folder, ec);
    return 0;
}
