#include "tools/xbtool/xbtool.h"

#include <cstdio>
#include <iostream>
#include <memory>
#include <nlohmann/json.hpp>

#include "components/kes04/field_value.h"
#include "components/kes04/index/cdx_table_index.h"
#include "components/kes04/table.h"
#include "components/kes04/table_check.h"
#include "tools/xbtool/json_text.h"

namespace tavrel::xbtool {

namespace {

using kes04::FieldSpec;
using kes04::Table;
using kes04::TableOptions;
using kes04::cdx::CdxTableIndex;
using kes04::cdx::CdxTag;
using Json = nlohmann::ordered_json;

constexpr const char* kUsage =
    "usage: xbtool create TABLE --field NAME:TYPE[:LEN[:DEC]] ...\n"
    "              [--tag NAME:EXPR[:FOR=EXPR][:UNIQUE|:UNIQUE_CONTINUE][:DESCENDING]] ...\n"
    "              [--overwrite]\n"
    "       xbtool info TABLE\n"
    "       xbtool dump TABLE [--tag NAME]\n"
    "       xbtool append TABLE < records.jsonl\n"
    "       xbtool seek TABLE TAG KEY\n"
    "       xbtool check TABLE\n"
    "       xbtool reindex TABLE\n";

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
              std::ostream& err, kes04::AccessMode mode = kes04::AccessMode::kDenyNone) {
    TableOptions options;
    options.readOnly = readOnly;
    options.accessMode = mode;
    std::string detail;
    int rc = Table::open(path, options, table, &detail);
    if (rc != 0) err << "xbtool: cannot open " << path << " (" << rc << "): " << detail << "\n";
    return rc;
}

// Parses NAME:TYPE[:LEN[:DEC]].
bool parseField(const std::string& text, FieldSpec* def) {
    std::vector<std::string> parts;
    size_t start = 0;
    for (size_t colon; (colon = text.find(':', start)) != std::string::npos; start = colon + 1) {
        parts.push_back(text.substr(start, colon - start));
    }
    parts.push_back(text.substr(start));
    if (parts.size() < 2 || parts.size() > 4 || parts[1].size() != 1) return false;
    def->name = parts[0];
    def->type = parts[1][0];
    try {
        def->length = parts.size() > 2 ? std::stoi(parts[2]) : 0;
        def->decimals = parts.size() > 3 ? std::stoi(parts[3]) : 0;
    } catch (...) {
        return false;
    }
    return true;
}

// Parses NAME:EXPR[:FOR=EXPR][:UNIQUE|:UNIQUE_CONTINUE][:DESCENDING].
bool parseTag(const std::string& text, kes04::TagSpec* def) {
    std::vector<std::string> parts;
    size_t start = 0;
    for (size_t colon; (colon = text.find(':', start)) != std::string::npos; start = colon + 1) {
        parts.push_back(text.substr(start, colon - start));
    }
    parts.push_back(text.substr(start));
    if (parts.size() < 2 || parts[0].empty() || parts[1].empty()) return false;
    def->name = parts[0];
    def->expression = parts[1];
    for (size_t i = 2; i < parts.size(); ++i) {
        const std::string& p = parts[i];
        if (p.rfind("FOR=", 0) == 0 || p.rfind("for=", 0) == 0) {
            def->filter = p.substr(4);
        } else if (p == "UNIQUE") {
            def->uniqueness = kes04::TagUniqueness::kRefuse;
        } else if (p == "UNIQUE_CONTINUE") {
            def->uniqueness = kes04::TagUniqueness::kContinue;
        } else if (p == "DESCENDING") {
            def->descending = true;
        } else {
            return false;
        }
    }
    return true;
}

int create(const std::vector<std::string>& args, std::ostream& err) {
    std::vector<FieldSpec> fields;
    std::vector<kes04::TagSpec> tags;
    bool overwrite = false;
    for (size_t i = 2; i < args.size(); ++i) {
        if (args[i] == "--overwrite") {
            overwrite = true;
        } else if (args[i] == "--tag" && i + 1 < args.size()) {
            kes04::TagSpec def;
            if (!parseTag(args[++i], &def)) {
                err << "xbtool: bad tag \"" << args[i]
                    << "\", expected NAME:EXPR[:FOR=EXPR][:UNIQUE|:UNIQUE_CONTINUE][:DESCENDING]\n";
                return 2;
            }
            tags.push_back(def);
        } else if (args[i] == "--field" && i + 1 < args.size()) {
            FieldSpec def;
            if (!parseField(args[++i], &def)) {
                err << "xbtool: bad field \"" << args[i] << "\", expected NAME:TYPE[:LEN[:DEC]]\n";
                return 2;
            }
            fields.push_back(def);
        } else {
            err << kUsage;
            return 2;
        }
    }
    std::unique_ptr<Table> table;
    std::string detail;
    int rc = Table::create(args[1], fields, tags, !overwrite, TableOptions{}, &table, &detail);
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
    if (auto* index = dynamic_cast<CdxTableIndex*>(table->index())) {
        auto& cdx = index->index();
        out << "Tags:          " << cdx.tagCount() << "\n";
        for (size_t i = 0; i < cdx.tagCount(); ++i) {
            CdxTag& tag = cdx.tag(i);
            out << "  " << tag.name() << "  key " << tag.keyExpression();
            if (!tag.forExpression().empty()) out << "  for " << tag.forExpression();
            if (tag.uniqueness() == kes04::TagUniqueness::kRefuse) out << "  unique";
            if (tag.uniqueness() == kes04::TagUniqueness::kContinue) out << "  unique-continue";
            if (tag.descending()) out << "  descending";
            out << "  (" << tag.keyLength() << "-byte key)\n";
        }
    }
    return 0;
}

// A logical field left blank, or holding FoxPro's "?" (not yet known).
bool unknownLogical(uint8_t byte) { return byte == ' ' || byte == '?'; }

// Writes the current record as one JSON line. False (with a message) when a
// memo cannot be read.

bool writeRow(Table& table, std::ostream& out, std::ostream& err) {
    const auto& fields = table.layout().fields;
    Json row;
    row["_recno"] = table.recno();
    row["_deleted"] = table.deleted();
    for (size_t i = 0; i < fields.size(); ++i) {
        std::string text;
        if (kes04::isMemoType(fields[i].type)) {
            const std::string* memo = nullptr;
            if (int m = table.memoText(i, &memo); m != 0) {
                err << "xbtool: " << table.lastDetail() << " (" << m << ")\n";
                return false;
            }
            text = *memo;
        } else if (fields[i].type == 'L' && unknownLogical(table.record()[fields[i].offset])) {
            text.clear();  // neither true nor false: not shown as "F"
        } else {
            text = kes04::displayText(fields[i], table.record());
        }
        row[bytesToUtf8(fields[i].name)] = bytesToUtf8(text);
    }
    out << printableJson(row.dump(-1, ' ', true)) << "\n";
    return true;
}

// Selects tag `name` of the table's structural index; null with a message when there is none.
CdxTableIndex* selectTag(Table& table, const std::string& name, std::ostream& err) {
    auto* index = dynamic_cast<CdxTableIndex*>(table.index());
    CdxTag* tag = index ? index->findTag(name) : nullptr;
    if (!tag) {
        err << "xbtool: " << table.path().string() << " has no tag \"" << name << "\"\n";
        return nullptr;
    }
    index->select(tag);
    return index;
}

int dump(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    if (args.size() != 2 && !(args.size() == 4 && args[2] == "--tag")) {
        err << kUsage;
        return 2;
    }
    std::unique_ptr<Table> table;
    if (openTable(args[1], true, &table, err) != 0) return 1;
    if (args.size() == 4 && !selectTag(*table, args[3], err)) return 1;
    int rc = table->top();
    for (; rc == 0 && !table->eof(); rc = table->skip(1)) {
        if (!writeRow(*table, out, err)) return 1;
    }
    if (rc != 0 && rc != kes04::code(kes04::EngineCode::kEof)) {
        err << "xbtool: " << args[1] << ": " << table->lastDetail() << " (" << rc << ")\n";
        return 1;
    }
    return 0;
}

int seek(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    if (args.size() != 4) {
        err << kUsage;
        return 2;
    }
    std::unique_ptr<Table> table;
    if (openTable(args[1], true, &table, err) != 0) return 1;
    CdxTableIndex* index = selectTag(*table, args[2], err);
    if (!index) return 1;
    const std::string key = utf8ToBytes(args[3]).value_or(args[3]);
    uint32_t recno = 0;
    int rc = index->seek(key, &recno);
    size_t found = 0;
    while (rc == 0) {
        if (int moved = table->go(recno, false); moved != 0) {
            rc = moved;
            break;
        }
        if (!writeRow(*table, out, err)) return 1;
        ++found;
        rc = index->seekNext(key, recno, {table->record(), table->layout().recordLength}, &recno);
    }
    if (rc < 0) {
        err << "xbtool: " << args[1] << ": " << index->lastError() << " (" << rc << ")\n";
        return 1;
    }
    return found > 0 ? 0 : 1;
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

// Checks every tag of the table's structural index against its records.
void checkTags(const std::string& path, std::vector<std::string>& faults, size_t* tags) {
    std::unique_ptr<Table> table;
    std::string detail;
    TableOptions options;
    options.readOnly = true;
    int rc = Table::open(path, options, &table, &detail);
    if (rc != 0) {
        faults.push_back("cannot open with its index (" + std::to_string(rc) + "): " + detail);
        return;
    }
    auto* index = dynamic_cast<CdxTableIndex*>(table->index());
    if (!index) return;
    *tags = index->index().tagCount();
    std::vector<std::string> problems;
    rc = index->check(problems);
    for (const std::string& p : problems) faults.push_back("index: " + p);
    if (rc != 0 && problems.empty())
        faults.push_back("index: check failed (" + std::to_string(rc) + ")");
}

int check(const std::string& path, std::ostream& out, std::ostream& err) {
    kes04::TableCheckResult result = kes04::checkTable(path);
    size_t tags = 0;
    if (result.faults.empty()) checkTags(path, result.faults, &tags);
    if (!result.faults.empty()) {
        for (const std::string& fault : result.faults) err << path << ": " << fault << "\n";
        err << path << ": " << result.faults.size() << " fault(s)\n";
        return 1;
    }
    out << path << ": OK, " << result.records << " records, " << result.memos << " memos, " << tags
        << " tags\n";
    return 0;
}

int reindex(const std::string& path, std::ostream& out, std::ostream& err) {
    std::unique_ptr<Table> table;
    if (openTable(path, false, &table, err, kes04::AccessMode::kDenyRW) != 0) return 1;
    auto* index = dynamic_cast<CdxTableIndex*>(table->index());
    if (!index) {
        err << "xbtool: " << path << " has no structural index\n";
        return 1;
    }
    if (int rc = index->reindex(); rc != 0) {
        err << "xbtool: reindex of " << path << " failed (" << rc << "): " << index->lastError()
            << "\n";
        return 1;
    }
    const size_t tags = index->index().tagCount();
    if (int rc = table->close(); rc != 0) {  // the index ends with the table
        err << "xbtool: closing " << path << " failed (" << rc << ")\n";
        return 1;
    }
    out << path << ": " << tags << " tags rebuilt\n";
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
        // Tables with a structural index open it and keep it up to date.
        kes04::setIndexFactory(&CdxTableIndex::factory);
        const std::string& command = args[0];
        if (command == "create") return create(args, err);
        if (command == "dump") return dump(args, out, err);
        if (command == "seek") return seek(args, out, err);
        if (args.size() != 2) {
            err << kUsage;
            return 2;
        }
        if (command == "info") return info(args[1], out, err);
        if (command == "append") return append(args[1], in, err);
        if (command == "check") return check(args[1], out, err);
        if (command == "reindex") return reindex(args[1], out, err);
    } catch (const std::exception& e) {
        err << "xbtool: " << e.what() << "\n";
        return 1;
    }
    err << kUsage;
    return 2;
}

}  // namespace tavrel::xbtool
