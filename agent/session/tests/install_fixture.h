// Test helpers of the package installation: an application folder with its
// history table made by the real engine, packages made by the `zip` program,
// a snapshot of a folder's files to compare byte for byte, and the history
// records read back.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "agent/history/history_table.h"
#include "agent/tables/tests/engine_fixture.h"
#include "platform/tests/temp_folder.h"
#include "platform/text_rules.h"

namespace tavrel::session::testing {

namespace fs = std::filesystem;
using platform::testing::readBytes;
using platform::testing::writeBytes;

// Every file below `root` (relative path, "/" between folders) with its bytes,
// leaving out the folders and files named in `skip` (first path component).
inline std::map<std::string, std::string> snapshot(const fs::path& root,
                                                   const std::vector<std::string>& skip = {}) {
    std::map<std::string, std::string> files;
    for (auto it = fs::recursive_directory_iterator(root); it != fs::recursive_directory_iterator();
         ++it) {
        const std::string relative = fs::relative(it->path(), root).generic_string();
        const std::string top = relative.substr(0, relative.find('/'));
        bool skipped = false;
        for (const std::string& s : skip) skipped = skipped || top.starts_with(s);
        if (skipped) {
            if (it->is_directory()) it.disable_recursion_pending();
            continue;
        }
        files[relative] = it->is_directory() ? std::string("<folder>") : readBytes(it->path());
    }
    return files;
}

// The files of an application folder that an installation may touch: all but
// the UPDATE folder and the history table.
inline std::map<std::string, std::string> applicationFiles(const fs::path& app) {
    return snapshot(app, {"UPDATE", "TABLEUPL"});
}

// Makes `zipFile` with the `zip` program from `entries` (stored path, bytes),
// in that order. Paths use "/"; a path ending in "/" is a folder entry.
inline void makeZip(const fs::path& zipFile,
                    const std::vector<std::pair<std::string, std::string>>& entries) {
    const fs::path source = zipFile.parent_path() / (zipFile.filename().string() + ".src");
    fs::remove_all(source);
    fs::create_directories(source);
    std::string list;
    for (const auto& [path, bytes] : entries) {
        const fs::path file = source / path;
        if (path.ends_with("/")) {
            fs::create_directories(file);
        } else {
            fs::create_directories(file.parent_path());
            writeBytes(file, bytes);
        }
        list += " '" + path + "'";
    }
    fs::remove(zipFile);
    const std::string command = "cd '" + source.string() + "' && zip -qX -D '" +
                                fs::absolute(zipFile).string() + "'" + list;
    ASSERT_EQ(std::system(command.c_str()), 0) << command;
    fs::remove_all(source);
}

// The 22 bytes of an archive with no entries.
inline std::string emptyZipBytes() {
    std::string bytes("PK\x05\x06", 4);
    bytes.append(18, '\0');
    return bytes;
}

struct HistoryRecord {
    std::string key, zip, type, result, text, memo;
};

inline std::vector<HistoryRecord> readHistory(tables::DatabaseEngine& engine, const fs::path& app) {
    std::vector<HistoryRecord> records;
    DATA4* data = engine.open((app / "TABLEUPL").string());
    if (data == nullptr) return records;
    tables::Kes04Library& library = engine.library();
    const long count = K4(library, d4recCountDo, data);
    for (long recno = 1; recno <= count; ++recno) {
        K4(library, d4goLow, data, recno, short(0));
        const auto field = [&](const char* name) {
            return std::string(platform::trimText(tables::readField(engine, data, name)));
        };
        records.push_back({field("UPDATE_KEY"), field("UPDATE_ZIP"), field("TYPE"), field("RESULT"),
                           field("DESC_TEXT"), field("DESC_MEMO")});
    }
    K4(library, d4close, data);
    return records;
}

}  // namespace tavrel::session::testing
