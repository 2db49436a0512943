// Cost of one operation-log entry as the log grows: the crash-safe rewrite
// (new file, flush, rename) against the in-place rewrite that leaves a
// half-written file behind on a crash, and against a plain append at the end
// (what a log with the newest entry last would cost).
//
// Runs in the system's temporary folder (TMPDIR to choose another disk):
//   agent_history_bench --benchmark_repetitions=5 --benchmark_report_aggregates_only=true
#include <benchmark/benchmark.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "agent/history/operation_log.h"
#include "platform/clock.h"
#include "platform/files.h"

namespace {

namespace fs = std::filesystem;
using tavrel::history::OperationLog;

class BenchFolder {
  public:
    explicit BenchFolder(std::size_t logBytes) {
        m_path = fs::temp_directory_path() / ("tavrel-bench-" + std::to_string(logBytes));
        fs::remove_all(m_path);
        fs::create_directories(m_path);
        std::ofstream(file(), std::ios::binary) << std::string(logBytes, 'x');
    }
    ~BenchFolder() {
        std::error_code ec;
        fs::remove_all(m_path, ec);
    }
    fs::path file() const { return m_path / "LOG.TXT"; }
    std::string folder() const { return m_path.string() + "/"; }

  private:
    fs::path m_path;
};

const tavrel::platform::FixedClock kClock({2026, 12, 7, 8, 5, 9});

void BM_AppendOperationLog(benchmark::State& state) {
    BenchFolder folder(std::size_t(state.range(0)));
    OperationLog log(folder.folder(), kClock);
    for (auto _ : state) {
        if (log.AppendOperationLog("ScheduleTask Started") != 0)
            state.SkipWithError("write failed");
    }
}

// The entry written in front of the old content over the same file, no flush.
void BM_PrependInPlace(benchmark::State& state) {
    BenchFolder folder(std::size_t(state.range(0)));
    for (auto _ : state) {
        auto old = tavrel::platform::readFile(folder.file());
        std::string content =
            tavrel::platform::formatDateTime(kClock.now(), tavrel::platform::kOperationLogPattern);
        content += "ScheduleTask Started\r\n";
        content += old.value_or(std::string());
        tavrel::platform::overwriteFileStart(folder.file(), content);
    }
}

void BM_AppendAtEnd(benchmark::State& state) {
    BenchFolder folder(std::size_t(state.range(0)));
    for (auto _ : state) {
        std::ofstream out(folder.file(), std::ios::binary | std::ios::app);
        out << tavrel::platform::formatDateTime(kClock.now(),
                                                tavrel::platform::kOperationLogPattern)
            << "ScheduleTask Started\r\n";
    }
}

BENCHMARK(BM_AppendOperationLog)->Arg(4 << 10)->Arg(256 << 10)->Arg(4 << 20);
BENCHMARK(BM_PrependInPlace)->Arg(4 << 10)->Arg(256 << 10)->Arg(4 << 20);
BENCHMARK(BM_AppendAtEnd)->Arg(4 << 10)->Arg(256 << 10)->Arg(4 << 20);

}  // namespace

BENCHMARK_MAIN();
