// A child process for the crash tests: runs the conversion (or a recovery)
// of the test package in APPFOLDER, so that TAVREL_CRASH_AT can end it at a
// chosen crash point. Prints the number of crash points it passed.
//
//   conversion_crash_helper convert|recover APPFOLDER
//   exit 0 converted / recovered, 1 not, 2 bad usage, 86 ended at a crash point
#include <cstdio>
#include <string>

#include "agent/history/window_log.h"
#include "agent/tables/table_conversion.h"
#include "platform/crash_point.h"

namespace {

class NoProgress : public tavrel::session::ConversionProgressView {
  public:
    void ProgressText(int, std::string_view) override {}
    void ProgressValue(int, std::int64_t, std::int64_t) override {}
    void SelectLogPage(int) override {}
};

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) return 2;
    const std::string mode = argv[1];
    tavrel::session::PackageNames names;
    names.applicationFolder = std::string(argv[2]) + "/";
    names.packageFolder = names.applicationFolder + "UPDATE/TAVREL0101/";
    names.packageBackupFolder = names.packageFolder + "BACKUP/";
    names.tableUpdateFile = "TBLUPD0101.ZIP";
    names.tableUpdateName = "TBLUPD0101";
    names.tableUpdateId = "0101";
    const auto log = [](const std::string& line) { std::fprintf(stderr, "%s\n", line.c_str()); };
    tavrel::tables::Kes04Library kes04(log);
    tavrel::tables::Kes01Library kes01(log);
    tavrel::tables::DatabaseEngine engine(kes04);
    tavrel::history::WindowLog windowLog([&names] { return names.applicationFolder + "UPDATE"; });
    NoProgress progress;
    tavrel::platform::SystemClock clock;
    tavrel::tables::TableConversion conversion(
        tavrel::tables::ConversionTools{engine, kes01, windowLog, progress, clock, {}});
    bool done = false;
    if (mode == "convert") {
        done = conversion.UpdTableConvert(names);
    } else if (mode == "recover") {
        done = conversion.recoverInterruptedConversion(names) == 0;
    } else {
        return 2;
    }
    std::printf("crash points passed: %lld\n",
                static_cast<long long>(tavrel::platform::crashPointsPassed()));
    return done ? 0 : 1;
}
