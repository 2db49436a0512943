// Test helpers: the real engine KES04.DLL bound from the build's program
// folder, and tables made through its C interface in a scratch folder.
#pragma once

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "agent/tables/database_engine.h"
#include "agent/tables/engine_fields.h"
#include "platform/tests/temp_folder.h"

namespace tavrel::tables::testing {

// The engine library as the test program finds it (TAVREL_BIN_DIR from CTest).
inline std::string engineFile() {
    const char* bin = std::getenv("TAVREL_BIN_DIR");
    return bin ? std::string(bin) + "/KES04.DLL" : std::string("KES04.DLL");
}

// Runs `command` under a time limit; its output, standard error included, and
// its exit code in `*exitCode` (-1 when it did not end by itself).
inline std::string runLimited(const std::string& command, int* exitCode, int seconds = 120) {
    const std::string limited = "timeout -k 5 " + std::to_string(seconds) + " " + command + " 2>&1";
    std::string out;
    *exitCode = -1;
    FILE* pipe = ::popen(limited.c_str(), "r");
    if (!pipe) return out;
    char buffer[65536];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) out.append(buffer, n);
    const int rc = ::pclose(pipe);
    *exitCode = WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
    return out;
}

class EngineTest : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(engine.start()) << (logLines.empty() ? "" : logLines[0]); }

    // Every table the test left in its folder, with its index and memo file,
    // passes `xbtool check` (an independent walk of the files) once the engine
    // has closed and written them, except those a test damages on purpose.
    void TearDown() override {
        engine.close();
        if (::testing::Test::HasFatalFailure()) return;
        const char* bin = std::getenv("TAVREL_BIN_DIR");
        if (bin == nullptr) return;
        namespace fs = std::filesystem;
        std::error_code ec;
        int checked = 0;
        for (auto it = fs::recursive_directory_iterator(folder.path(), ec);
             !ec && it != fs::recursive_directory_iterator() && checked < 200; it.increment(ec)) {
            const fs::path& path = it->path();
            std::string extension = path.extension().string();
            for (char& c : extension) c = char(std::toupper(static_cast<unsigned char>(c)));
            if (extension != ".DBF" || !it->is_regular_file()) continue;
            const fs::path table = fs::path(path).replace_extension();
            if (uncheckedTables.count(table.filename().string())) continue;
            int rc = -1;
            const std::string report =
                runLimited(std::string(bin) + "/xbtool check '" + table.string() + "'", &rc, 60);
            EXPECT_EQ(rc, 0) << "xbtool check " << table << ":\n" << report;
            ++checked;
        }
    }
    // Leaves table `name` (file name without extension) out of the check at
    // the end: a test that damages it on purpose.
    void leaveUnchecked(const std::string& name) { uncheckedTables.insert(name); }

    // Creates `name` in the scratch folder from (name, type, len, dec) fields
    // and optional tags; the open handle.
    DATA4* create(const std::string& name, const std::vector<FIELD4INFO>& fields,
                  const std::vector<TAG4INFO>& tags = {}) {
        std::vector<FIELD4INFO> f = fields;
        f.push_back(FIELD4INFO{nullptr, 0, 0, 0, 0});
        std::vector<TAG4INFO> t = tags;
        t.push_back(TAG4INFO{nullptr, nullptr, nullptr, 0, 0});
        const std::string path = (folder / name).string();
        DATA4* data = K4(library, d4create, engine.handle(), path.c_str(), f.data(),
                         tags.empty() ? nullptr : t.data());
        EXPECT_NE(data, nullptr) << "cannot create " << path;
        return data;
    }

    // Creates the update history table TABLEUPL with its two tags; the open handle.
    DATA4* createHistoryTable() {
        return create(
            "TABLEUPL",
            {{"UPDATE_KEY", 'C', 10, 0, 0},
             {"UPDATE_ZIP", 'C', 20, 0, 0},
             {"TYPE", 'C', 1, 0, 0},
             {"ACT_FLAG", 'C', 1, 0, 0},
             {"CREATE_BY", 'C', 20, 0, 0},
             {"UPDATE_ON", 'C', 14, 0, 0},
             {"UPDATE_BY", 'C', 20, 0, 0},
             {"RESULT", 'C', 1, 0, 0},
             {"DESC_TEXT", 'C', 100, 0, 0},
             {"DESC_MEMO", 'M', 10, 0, 0}},
            {{"UPDATE", "UPDATE_KEY+UPDATE_ZIP", "", 0, 0}, {"DATE_BACK", "UPDATE_ON", "", 0, 10}});
    }

    // Appends a record with the fields of `values` (name, text) set.
    void append(DATA4* data, const std::vector<std::pair<const char*, std::string>>& values) {
        ASSERT_EQ(K4(library, d4appendStart, data, short(0)), 0);
        K4(library, d4blank, data);
        for (const auto& [name, text] : values) ASSERT_TRUE(writeField(engine, data, name, text));
        ASSERT_EQ(K4(library, d4append, data), 0);
    }

    std::vector<std::string> logLines;
    std::set<std::string> uncheckedTables;
    Kes04Library library{[this](const std::string& line) { logLines.push_back(line); },
                         engineFile()};
    DatabaseEngine engine{library};
    platform::testing::TempFolder folder;
};

}  // namespace tavrel::tables::testing
