#include "agent/tables/record_checksums.h"

#include "agent/tables/engine_fields.h"
#include "platform/text_rules.h"

namespace tavrel::tables {

namespace {

using Reader = std::string (*)(Kes04Library&, FIELD4*);

std::string recordText(DatabaseEngine& engine, DATA4* data, Reader read) {
    Kes04Library& library = engine.library();
    const short count = K4(library, d4numFields, data);
    std::string text;
    for (short j = 2; j <= count; ++j) {
        FIELD4* byNumber = K4(library, d4fieldJ, data, j);
        if (byNumber == nullptr) continue;
        const char* name = K4(library, f4name, byNumber);
        FIELD4* field = name ? K4(library, d4field, data, name) : nullptr;
        text += read(library, field ? field : byNumber);
    }
    return text;
}

void applyMode(DatabaseEngine& engine, DATA4* data, int32_t mode) {
    switch (StampingMode(mode)) {
        case StampingMode::kUnlock:
            unlockTable(engine, data);
            break;
        case StampingMode::kFlush:
            flushTable(engine, data);
            break;
        case StampingMode::kFlushUnlock:
            flushTable(engine, data);
            unlockTable(engine, data);
            break;
        default:
            break;
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

void goForWrite(DatabaseEngine& engine, DATA4* data, long recno) {
    if (K4(engine.library(), d4goLow, data, recno, short(1)) < 0) {
        engine.checkError("d4goLow " + std::to_string(recno));
    }
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
    return recordText(engine, data, rawFieldText);
}

std::string MemoRecordText(DatabaseEngine& engine, DATA4* data) {
    return recordText(engine, data, memoFieldText);
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
    applyMode(tools.engine, data, mode);
    return result;
}

ChecksumResult StampTableChecksums(ChecksumTools& tools, DATA4* data, int32_t mode) {
    flushAndUnlock(tools.engine, data);
    ChecksumResult result = ChecksumResult::kDone;
    if (!checksumsAvailable(tools)) {
        result = ChecksumResult::kNotMade;
    } else {
        const long count = K4(tools.engine.library(), d4recCountDo, data);
        for (long recno = 1; recno <= count; ++recno) {
            goForWrite(tools.engine, data, recno);
            result = StampRecordChecksum(tools, data, 0);
            if (result != ChecksumResult::kDone) break;
        }
    }
    applyMode(tools.engine, data, mode);
    return result;
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
