#include "tools/xbtool/xbtool.h"

#include <cstdio>
#include <iostream>
#include <memory>
#include <nlohmann/json.hpp>

#include "components/kes04/field_value.h"
#include "components/kes04/table.h"
#include "components/kes04/table_check.h"
#include "tools/xbtool/json_text.h"

namespace tavrel::xbtool {

namespace {

using kes04::FieldSpec;
using kes04::Table;
using kes04::TableOptions;
using Json = nlohmann::ordered_json;

constexpr const char* kUsage =
    "usage: xbtool create TABLE --field NAME:TYPE[:LEN[:DEC]] ... [--overwrite]\n"
    "       xbtool info TABLE\n"
    "       xbtool dump TABLE\n"
    "       xbtool append TABLE < records.jsonl\n"
    "       xbtool check TABLE\n";

std::string hexByte(unsigned v) {
    char buffer[8];
    std::snprintf(buffer, sizeof buffer, "0x%02X", v & 0xFF);
    return buffer;
}

std::string versionName(uint8_t version) {
    switch (version) {
        case 0x02:
            return "FoxBASE";
        case 0x03:
            return "FoxPro 2.x / dBASE III, no memo";
        case 0x30:
            return "Visual FoxPro";
        case 0x31:
            return "Visual FoxPro with autoincrement";
        case 0x32:
            return "Visual FoxPro with Varchar/Varbinary";
        case 0x83:
            return "dBASE III with memo (.DBT)";
        case 0x8B:
            return "dBASE IV with memo (.DBT)";
        case 0xF5:
            return "FoxPro 2.x with memo (.FPT)";
        default:
            return "dBASE/FoxBASE";
    }
}

int openTable(const std::string& path, bool readOnly, std::unique_ptr<Table>* table,
              std::ostream& err) {
    TableOptions options;
    options.readOnly = readOnly;
    std::string detail;
    int rc = Table::open(path, options, table, &detail);
    if (rc != 0) err << "xbtool: cannot open " << path << " (" << rc << "): " << detail << "\n";
    return rc;
}

// Parses NAME:TYPE[:LEN[:DEC]].
bool parseField(const std::string& text, FieldSpec* spec) {
    std::vector<std::string> parts;
    size_t start = 0;
    for (size_t colon; (colon = text.find(':', start)) != std::string::npos; start = colon + 1) {
        parts.push_back(text.substr(start, colon - start));
    }
    parts.push_back(text.substr(start));
    if (parts.size() < 2 || parts.size() > 4 || parts[1].size() != 1) return false;
    spec->name = parts[0];
    spec->type = parts[1][0];
    try {
        spec->length = parts.size() > 2 ? std::stoi(parts[2]) : 0;
        spec->decimals = parts.size() > 3 ? std::stoi(parts[3]) : 0;
    } catch (...) {
        return false;
    }
    return true;
}

int create(const std::vector<std::string>& args, std::ostream& err) {
    std::vector<FieldSpec> fields;
    bool overwrite = false;
    for (size_t i = 2; i < args.size(); ++i) {
        if (args[i] == "--overwrite") {
            overwrite = true;
        } else if (args[i] == "--field" && i + 1 < args.size()) {
            FieldSpec spec;
            if (!parseField(args[++i], &spec)) {
                err << "xbtool: bad field \"" << args[i] << "\", expected NAME:TYPE[:LEN[:DEC]]\n";
                return 2;
            }
            fields.push_back(spec);
        } else {
            err << kUsage;
            return 2;
        }
    }
    std::unique_ptr<Table> table;
    std::string detail;
    int rc = Table::create(args[1], fields, {}, !overwrite, TableOptions{}, &table, &detail);
    if (rc != 0) {
        err << "xbtool: cannot create " << args[1] << " (" << rc << "): " << detail << "\n";
        return 1;
    }
    return table->close() == 0 ? 0 : 1;
}

int info(const std::string& path, std::ostream& out, std::ostream& err) {
    std::unique_ptr<Table> table;
    if (openTable(path, true, &table, err) != 0) return 1;
    const kes04::DbfHeader& h = table->header();
    char date[32];
    std::snprintf(date, sizeof date, "%02u-%02u-%02u (YY-MM-DD)", h.year, h.month, h.day);
    out << "File:          " << table->path().string() << "\n"
        << "Version:       " << hexByte(h.version) << " " << versionName(h.version) << "\n"
        << "Last update:   " << date << "\n"
        << "Records:       " << table->recordCount() << "\n"
        << "Header length: " << h.headerLength << "\n"
        << "Record length: " << h.layout.recordLength << "\n"
        << "Flags:         " << hexByte(h.flags)
        << ((h.flags & kes04::kFlagStructuralIndex) ? " (structural index)" : "") << "\n"
        << "Code page:     " << hexByte(h.layout.codePage) << "\n";
    if (table->hasMemoFile()) {
        out << "Memo file:     block size " << table->memoBlockSize() << "\n";
    }
    out << "Fields:        " << h.layout.fields.size() << "\n";
    for (const kes04::FieldLayout& f : h.layout.fields) {
        char line[96];
        std::snprintf(line, sizeof line, "  %-10s %c %5u %3u  offset %u\n", f.name.c_str(), f.type,
                      f.length, unsigned(f.decimals), f.offset);
        out << line;
    }
    return 0;
}

int dump(const std::string& path, std::ostream& out, std::ostream& err) {
    std::unique_ptr<Table> table;
    if (openTable(path, true, &table, err) != 0) return 1;
    const auto& fields = table->layout().fields;
    for (int rc = table->top(); rc == 0 || rc == kes04::code(kes04::EngineCode::kEof);
         rc = table->skip(1)) {
        if (rc != 0) break;
        Json row;
        row["_recno"] = table->recno();
        row["_deleted"] = table->deleted();
        for (size_t i = 0; i < fields.size(); ++i) {
            std::string text;
            if (kes04::isMemoType(fields[i].type)) {
                const std::string* memo = nullptr;
                if (int m = table->memoText(i, &memo); m != 0) {
                    err << "xbtool: " << table->lastDetail() << " (" << m << ")\n";
                    return 1;
                }
                text = *memo;
            } else {
                text = kes04::displayText(fields[i], table->record());
            }
            row[fields[i].name] = bytesToUtf8(text);
        }
        out << row.dump() << "\n";
    }
    return 0;
}

// The text to store for a JSON value, or nullopt when it cannot be one.
std::optional<std::string> valueText(const Json& value) {
    if (value.is_string()) return utf8ToBytes(value.get<std::string>());
    if (value.is_null()) return std::string();
    if (value.is_boolean()) return std::string(value.get<bool>() ? "T" : "F");
    if (value.is_number()) return value.dump();
    return std::nullopt;
}

int appendOne(Table& table, const Json& row, std::string* problem) {
    if (!row.is_object()) {
        *problem = "not a JSON object";
        return 1;
    }
    int rc = table.appendStart(false);
    if (rc == 0) rc = table.blank();
    for (auto it = row.begin(); rc == 0 && it != row.end(); ++it) {
        const std::string& key = it.key();
        if (key == "_recno") continue;
        if (key == "_deleted") {
            const bool deleted = it->is_boolean()
                                     ? it->get<bool>()
                                     : (it->is_string() && it->get<std::string>() == "T");
            rc = table.setDeleted(deleted);
            continue;
        }
        const kes04::FieldLayout* field = table.layout().find(key);
        if (!field) {
            *problem = "no field \"" + key + "\"";
            return 1;
        }
        std::optional<std::string> text = valueText(*it);
        if (!text) {
            *problem =
                "field " + field->name + ": value is not text (or holds characters above U+00FF)";
            return 1;
        }
        rc = table.assignText(size_t(field - table.layout().fields.data()), *text);
    }
    if (rc == 0) rc = table.append();
    if (rc != 0) *problem = table.lastDetail() + " (" + std::to_string(rc) + ")";
    return rc;
}

int append(const std::string& path, std::istream& in, std::ostream& err) {
    std::unique_ptr<Table> table;
    if (openTable(path, false, &table, err) != 0) return 1;
    std::string line;
    for (size_t number = 1; std::getline(in, line); ++number) {
        if (line.find_first_not_of(" \t\r") == std::string::npos) continue;
        Json row = Json::parse(line, nullptr, false);
        std::string problem = row.is_discarded() ? "not valid JSON" : "";
        if (problem.empty() && appendOne(*table, row, &problem) == 0) continue;
        err << "xbtool: line " << number << ": " << problem << "\n";
        table->close();
        return 1;
    }
    if (int rc = table->close(); rc != 0) {
        err << "xbtool: closing " << path << " failed (" << rc << ")\n";
        return 1;
    }
    return 0;
}

int check(const std::string& path, std::ostream& out, std::ostream& err) {
    kes04::TableCheckResult result = kes04::checkTable(path);
    if (!result.faults.empty()) {
        for (const std::string& fault : result.faults) err << path << ": " << fault << "\n";
        err << path << ": " << result.faults.size() << " fault(s)\n";
        return 1;
    }
    out << path << ": OK, " << result.records << " records, " << result.memos << " memos\n";
    return 0;
}

}  // namespace

int run(const std::vector<std::string>& args, std::istream& in, std::ostream& out,
        std::ostream& err) {
    if (args.size() < 2) {
        err << kUsage;
        return 2;
    }
    try {
        const std::string& command = args[0];
        if (command == "create") return create(args, err);
        if (args.size() != 2) {
            err << kUsage;
            return 2;
        }
        if (command == "info") return info(args[1], out, err);
        if (command == "dump") return dump(args[1], out, err);
        if (command == "append") return append(args[1], in, err);
        if (command == "check") return check(args[1], out, err);
    } catch (const std::exception& e) {
        err << "xbtool: " << e.what() << "\n";
        return 1;
    }
    err << kUsage;
    return 2;
}

}  // namespace tavrel::xbtool
