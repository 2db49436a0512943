#include "agent/tables/record_checksums.h"

#include <vector>

#include "agent/tables/engine_fields.h"
#include "platform/text_rules.h"

namespace tavrel::tables {

namespace {

using Reader = void (*)(Kes04Library&, FIELD4*, std::string&);

void appendRaw(Kes04Library& library, FIELD4* field, std::string& out) {
    const char* bytes = K4(library, f4ptr, field);
    const long length = K4(library, f4len_v, field);
    if (bytes != nullptr && length > 0) out.append(bytes, size_t(length));
}

void appendMemoAware(Kes04Library& library, FIELD4* field, std::string& out) {
    out += memoFieldText(library, field);
}

// The fields of the record text, fields 2 to the last, each looked up by its
// name as the application's programs do (a repeated name reads the first).
std::vector<FIELD4*> recordTextFields(DatabaseEngine& engine, DATA4* data) {
    Kes04Library& library = engine.library();
    const short count = K4(library, d4numFields, data);
    std::vector<FIELD4*> fields;
    for (short j = 2; j <= count; ++j) {
        FIELD4* byNumber = K4(library, d4fieldJ, data, j);
        if (byNumber == nullptr) continue;
        const char* name = K4(library, f4name, byNumber);
        FIELD4* field = name ? K4(library, d4field, data, name) : nullptr;
        fields.push_back(field ? field : byNumber);
    }
    return fields;
}

void recordText(Kes04Library& library, const std::vector<FIELD4*>& fields, Reader read,
                std::string& out) {
    out.clear();
    for (FIELD4* field : fields) read(library, field, out);
}

std::string recordText(DatabaseEngine& engine, DATA4* data, Reader read) {
    std::string text;
    recordText(engine.library(), recordTextFields(engine, data), read, text);
    return text;
}

// False when the flush the mode asks for failed (the reason is logged).
bool applyMode(DatabaseEngine& engine, DATA4* data, int32_t mode) {
    switch (StampingMode(mode)) {
        case StampingMode::kUnlock:
            return unlockTable(engine, data);
        case StampingMode::kFlush:
            return flushTable(engine, data);
        case StampingMode::kFlushUnlock: {
            const bool flushed = flushTable(engine, data);
            return unlockTable(engine, data) && flushed;
        }
        default:
            return true;
    }
}

void flushAndUnlock(DatabaseEngine& engine, DATA4* data) {
    flushTable(engine, data);
    unlockTable(engine, data);
}

// Whether the library can make a checksum at all, asked before anything is
// written so that a missing library leaves the table as it was.
bool checksumsAvailable(ChecksumTools& tools) {
    return MakeChecksumText(tools.kes01, "").has_value();
}

// False when the move failed; that includes writing the changes of the
// record left, which a unique tag may refuse with a positive code (r4unique)
// and no error set. The reason is logged.
bool goForWrite(DatabaseEngine& engine, DATA4* data, long recno) {
    const int rc = K4(engine.library(), d4goLow, data, recno, short(1));
    if (rc == 0) return true;
    if (!engine.checkError("d4goLow " + std::to_string(recno))) {
        engine.library().log("d4goLow " + std::to_string(recno) + " gave " + std::to_string(rc));
    }
    return false;
}

ChecksumResult stampChecksum1(ChecksumTools& tools, DATA4* data, long recno) {
    goForWrite(tools.engine, data, recno);
    const auto checksum = MakeChecksumText(tools.kes01, MemoRecordText(tools.engine, data));
    if (!checksum) return ChecksumResult::kNotMade;
    writeField(tools.engine, data, "CHECK_SUM1", *checksum);
    return ChecksumResult::kDone;
}

}  // namespace

std::string RawRecordText(DatabaseEngine& engine, DATA4* data) {
    return recordText(engine, data, appendRaw);
}

std::string MemoRecordText(DatabaseEngine& engine, DATA4* data) {
    return recordText(engine, data, appendMemoAware);
}

ChecksumResult StampRecordChecksum(ChecksumTools& tools, DATA4* data, int32_t mode) {
    const auto checksum = MakeChecksumText(tools.kes01, RawRecordText(tools.engine, data));
    ChecksumResult result = ChecksumResult::kNotMade;
    if (!checksum) {
        tools.kes01.log("CHECK_SUM of record " +
                        std::to_string(K4(tools.engine.library(), d4recNo, data)) +
                        " not written: no checksum");
    } else if (writeField(tools.engine, data, "CHECK_SUM", *checksum)) {
        result = ChecksumResult::kDone;
    }
    if (!applyMode(tools.engine, data, mode)) result = ChecksumResult::kNotMade;
    return result;
}

ChecksumStamper::ChecksumStamper(ChecksumTools& tools, DATA4* data)
    : m_tools(tools),
      // The fields are looked up once for the whole run, not once a record.
      m_fields(recordTextFields(tools.engine, data)),
      m_checksumField(findField(tools.engine, data, "CHECK_SUM")),
      m_maker(tools.kes01) {
    // Field positions within a record are fixed: whether the fields follow
    // one another without a gap is seen once, on whatever record is current.
    Kes04Library& library = tools.engine.library();
    const char* first = m_fields.empty() ? nullptr : K4(library, f4ptr, m_fields.front());
    size_t length = 0;
    for (FIELD4* field : m_fields) {
        const char* bytes = K4(library, f4ptr, field);
        const long fieldLength = K4(library, f4len_v, field);
        if (first == nullptr || bytes != first + length || fieldLength <= 0) return;
        length += size_t(fieldLength);
    }
    m_textLength = length;
}

std::string_view ChecksumStamper::adjacentText() const {
    // The record buffer may have been replaced since the run began; the
    // layout within it not, so the stretch starts at the first field.
    const char* first = K4(m_tools.engine.library(), f4ptr, m_fields.front());
    if (first == nullptr) return {};
    return {first, m_textLength};
}

bool ChecksumStamper::stampCurrent(long recno) {
    Kes04Library& library = m_tools.engine.library();
    char checksum[kChecksumLength];
    std::string_view text = m_textLength > 0 ? adjacentText() : std::string_view();
    if (text.empty()) {
        recordText(library, m_fields, appendRaw, m_text);
        text = m_text;
    }
    if (!m_maker.make(text, checksum)) {
        m_tools.kes01.log("CHECK_SUM of record " + std::to_string(recno) +
                          " not written: no checksum");
        return false;
    }
    if (m_checksumField == nullptr) return false;
    if (K4(library, f4assignNVB, m_checksumField, checksum, int(kChecksumLength)) != 0) {
        m_tools.engine.checkError("f4assignNVB CHECK_SUM");
        return false;
    }
    return true;
}

ChecksumResult StampTableChecksums(ChecksumTools& tools, DATA4* data, int32_t mode) {
    flushAndUnlock(tools.engine, data);
    if (!checksumsAvailable(tools)) {
        applyMode(tools.engine, data, mode);
        return ChecksumResult::kNotMade;
    }
    ChecksumStamper stamper(tools, data);
    ChecksumResult result = ChecksumResult::kDone;
    const long count = K4(tools.engine.library(), d4recCountDo, data);
    for (long recno = 1; recno <= count; ++recno) {
        if (!goForWrite(tools.engine, data, recno) || !stamper.stampCurrent(recno)) {
            result = ChecksumResult::kNotMade;
            break;
        }
    }
    // The last record's change is written by the mode's flush, or by the
    // caller's next move.
    if (!applyMode(tools.engine, data, mode)) result = ChecksumResult::kNotMade;
    return result;
}

ChecksumResult FinishStamping(ChecksumTools& tools, DATA4* data, int32_t mode) {
    return applyMode(tools.engine, data, mode) ? ChecksumResult::kDone : ChecksumResult::kNotMade;
}

ChecksumResult StampChecksumsIfPresent(ChecksumTools& tools, DATA4* data, int32_t mode) {
    Kes04Library& library = tools.engine.library();
    const short count = K4(library, d4numFields, data);
    for (short j = 1; j <= count; ++j) {
        const char* name = K4(library, f4name, K4(library, d4fieldJ, data, j));
        if (name != nullptr && platform::upperText(platform::trimText(name)) == "CHECK_SUM") {
            return StampTableChecksums(tools, data, mode);
        }
    }
    return ChecksumResult::kDone;
}

ChecksumResult StampTableChecksum1(ChecksumTools& tools, DATA4* data) {
    flushAndUnlock(tools.engine, data);
    ChecksumResult result = ChecksumResult::kDone;
    if (findField(tools.engine, data, "CHECK_SUM1") != nullptr) {
        if (!checksumsAvailable(tools)) {
            result = ChecksumResult::kNotMade;
            tools.kes01.log("CHECK_SUM1 not written: no checksum can be made");
        } else {
            const long count = K4(tools.engine.library(), d4recCountDo, data);
            for (long recno = 1; recno <= count && result == ChecksumResult::kDone; ++recno) {
                result = stampChecksum1(tools, data, recno);
            }
        }
    }
    flushAndUnlock(tools.engine, data);
    return result;
}

ChecksumResult VerifyTableChecksum1(ChecksumTools& tools, DATA4* data, long* mismatch) {
    if (findField(tools.engine, data, "CHECK_SUM1") == nullptr) return ChecksumResult::kVerified;
    const long count = K4(tools.engine.library(), d4recCountDo, data);
    for (long recno = 1; recno <= count; ++recno) {
        goForWrite(tools.engine, data, recno);
        const std::string stored = readField(tools.engine, data, "CHECK_SUM1");
        if (platform::trimText(stored).empty()) return ChecksumResult::kVerified;
        const auto checksum = MakeChecksumText(tools.kes01, MemoRecordText(tools.engine, data));
        if (!checksum || *checksum != stored) {
            if (!checksum) {
                tools.kes01.log("CHECK_SUM1 of record " + std::to_string(recno) +
                                " not verified: no checksum can be made");
            }
            if (mismatch) *mismatch = recno;
            return ChecksumResult::kMismatch;
        }
    }
    return ChecksumResult::kVerified;
}

}  // namespace tavrel::tables
