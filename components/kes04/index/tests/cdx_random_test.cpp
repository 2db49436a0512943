// Random sequences of appends, key changes, deletion marks, rebuilds and
// reopenings, compared after each step with an in-memory model of every tag.
#include <gtest/gtest.h>

#include <map>
#include <random>
#include <set>

#include "components/kes04/index/cdx_index.h"
#include "components/kes04/index/key_encoding.h"
#include "components/kes04/index/tests/test_table.h"

namespace tavrel::kes04::cdx {
namespace {

using testing::MemorySource;
using testing::Records;
using testing::sampleLayout;
using Entry = std::pair<std::string, uint32_t>;

// What a tag should hold: its entries in key order.
struct TagModel {
    CdxTag* tag = nullptr;
    std::set<Entry> entries;
    std::map<std::string, uint32_t> holders;  // uniqueness 25: key -> record kept

    bool has(const std::string& key, uint32_t* holder) const {
        auto it = entries.lower_bound({key, 0});
        if (it == entries.end() || it->first != key) return false;
        *holder = it->second;
        return true;
    }
};

class RandomOps {
  public:
    // `batchBytes` other than 0 sets the batch size of deferred appends.
    RandomOps(uint32_t seed, int alphabet, bool deferAppends = false, size_t batchBytes = 0)
        : m_rng(seed), m_alphabet(alphabet), m_defer(deferAppends), m_batchBytes(batchBytes) {
        CdxStatus s;
        m_index = CdxIndex::create(std::make_unique<MemoryPageStore>(), m_records.layout(), &s);
        EXPECT_EQ(s, CdxStatus::Ok);
        setDefer();
        add(TagSpec{"NAME", "UPPER(NAME)", "", TagUniqueness::kNone, false});
        add(TagSpec{"CODE", "CODE", "", TagUniqueness::kContinue, false});
        add(TagSpec{"AMOUNT", "AMOUNT", ".NOT. DELETED()", TagUniqueness::kNone, true});
        add(TagSpec{"CODEDAY", "CODE + DTOS(DAY)", "", TagUniqueness::kRefuse, false});
        add(TagSpec{"LONGKEY", "NOTE + NAME", "AMOUNT > 0", TagUniqueness::kNone, false});
    }

    std::vector<uint8_t> randomRow() {
        std::string name, code, note;
        const int nl = int(m_rng() % 20) + 1;
        for (int i = 0; i < nl; ++i) name += char((m_rng() % 2 ? 'a' : 'A') + m_rng() % m_alphabet);
        const int cl = int(m_rng() % 4) + 1;
        for (int i = 0; i < cl; ++i) code += char('0' + m_rng() % 10);
        const int ml = int(m_rng() % 60);
        for (int i = 0; i < ml; ++i) note += char('a' + m_rng() % 3);
        char day[16];
        std::snprintf(day, sizeof day, "%04d%02d%02d", 1990 + int(m_rng() % 40),
                      1 + int(m_rng() % 12), 1 + int(m_rng() % 28));
        std::vector<uint8_t> row =
            m_records.make(name, code, double(int(m_rng() % 20001) - 10000) / 100, day);
        m_records.set(row, "NOTE", note);
        return row;
    }

    // One random operation; the index and the model must agree on its outcome.
    void step(bool wholeFileOps = true) {
        const uint32_t dice = m_rng() % (wholeFileOps ? 100 : 97);
        const uint32_t count = uint32_t(m_table.rows.size());
        if (count == 0 || dice < 55) {
            apply(count + 1, {}, randomRow());
        } else if (dice < 85) {
            const uint32_t r = 1 + m_rng() % count;
            std::vector<uint8_t> row = randomRow();
            row[0] = m_table.rows[r - 1][0];
            if (m_rng() % 3 == 0) row = changeOneField(m_table.rows[r - 1]);
            apply(r, m_table.rows[r - 1], row);
        } else if (dice < 97) {
            const uint32_t r = 1 + m_rng() % count;
            std::vector<uint8_t> row = m_table.rows[r - 1];
            row[0] = row[0] == '*' ? ' ' : '*';
            apply(r, m_table.rows[r - 1], row);
        } else if (dice < 98) {
            rebuild();
        } else {
            reopen();
        }
    }

    void appendOne() { apply(uint32_t(m_table.rows.size() + 1), {}, randomRow()); }

    std::vector<uint8_t> changeOneField(std::vector<uint8_t> row) {
        std::vector<uint8_t> other = randomRow();
        const FieldLayout& f =
            m_records.layout().fields[m_rng() % m_records.layout().fields.size()];
        std::copy(other.begin() + f.offset, other.begin() + f.offset + f.length,
                  row.begin() + f.offset);
        return row;
    }

    void apply(uint32_t recno, std::vector<uint8_t> before, std::vector<uint8_t> after) {
        // Expected outcome first: does a uniqueness-20 tag refuse?
        bool refuse = false;
        std::string oldKey, newKey;
        for (TagModel& m : m_models) {
            if (m.tag->uniqueness() != TagUniqueness::kRefuse) continue;
            if (!m.tag->keyFor(RecordView{after, recno}, newKey)) continue;
            if (!before.empty() && m.tag->keyFor(RecordView{before, recno}, oldKey) &&
                oldKey == newKey)
                continue;
            uint32_t holder;
            if (m.has(newKey, &holder) && holder != recno) refuse = true;
        }
        const CdxStatus s = m_index->applyChange(recno, before, after);
        ASSERT_EQ(s, refuse ? CdxStatus::UniqueViolation : CdxStatus::Ok) << m_index->lastError();
        if (refuse) return;
        for (TagModel& m : m_models) {
            const bool oldIn = !before.empty() && m.tag->keyFor(RecordView{before, recno}, oldKey);
            const bool newIn = m.tag->keyFor(RecordView{after, recno}, newKey);
            if (oldIn == newIn && (!oldIn || oldKey == newKey)) continue;  // no key change
            if (m.tag->uniqueness() == TagUniqueness::kContinue) {
                if (oldIn && (!newIn || oldKey != newKey)) {
                    auto it = m.holders.find(oldKey);
                    if (it != m.holders.end() && it->second == recno) {
                        m.holders.erase(it);
                        m.entries.erase({oldKey, recno});
                    }
                }
                if (newIn && !m.holders.count(newKey)) {
                    m.holders[newKey] = recno;
                    m.entries.insert({newKey, recno});
                }
                continue;
            }
            if (oldIn) m.entries.erase({oldKey, recno});
            if (newIn) m.entries.insert({newKey, recno});
        }
        if (recno > m_table.rows.size())
            m_table.rows.push_back(std::move(after));
        else
            m_table.rows[recno - 1] = std::move(after);
    }

    void rebuild() {
        ASSERT_EQ(m_index->reindex(m_table), CdxStatus::Ok) << m_index->lastError();
        std::string key;
        for (TagModel& m : m_models) {
            m.entries.clear();
            m.holders.clear();
            for (uint32_t r = 1; r <= m_table.rows.size(); ++r) {
                if (!m.tag->keyFor(RecordView{m_table.rows[r - 1], r}, key)) continue;
                if (m.tag->uniqueness() == TagUniqueness::kContinue) {
                    if (m.holders.count(key)) continue;
                    m.holders[key] = r;
                }
                m.entries.insert({key, r});
            }
        }
    }

    void reopen() {
        ASSERT_EQ(m_index->flush(), CdxStatus::Ok);
        std::vector<uint8_t> bytes = static_cast<MemoryPageStore&>(m_index->store()).bytes();
        std::vector<std::string> names;
        for (TagModel& m : m_models) names.push_back(m.tag->name());
        CdxStatus s;
        std::string msg;
        m_index = CdxIndex::open(std::make_unique<MemoryPageStore>(std::move(bytes)),
                                 m_records.layout(), &s, &msg);
        ASSERT_EQ(s, CdxStatus::Ok) << msg;
        for (size_t i = 0; i < m_models.size(); ++i) m_models[i].tag = m_index->findTag(names[i]);
        setDefer();
    }

    void setDefer() {
        m_index->setDeferAppends(m_defer);
        if (m_batchBytes) m_index->setAppendBatchBytes(m_batchBytes);
    }

    // Runs of deferred appends waiting in the file, over all tags.
    size_t spilledRuns() const {
        size_t n = 0;
        for (const TagModel& m : m_models) n += m.tag->spilledRuns();
        return n;
    }

    // Full comparison: order both ways, seeks and seek-next runs.
    void compare(int seeks) {
        for (TagModel& m : m_models) {
            std::vector<Entry> want(m.entries.begin(), m.entries.end());
            if (m.tag->descending()) std::reverse(want.begin(), want.end());
            std::vector<Entry> got;
            CdxCursor c;
            ASSERT_EQ(m_index->first(*m.tag, c), CdxStatus::Ok);
            while (c.valid && got.size() <= want.size()) {
                got.emplace_back(c.key, c.record);
                ASSERT_EQ(m_index->next(*m.tag, c), CdxStatus::Ok) << m_index->lastError();
            }
            ASSERT_EQ(got, want) << "tag " << m.tag->name();
            std::vector<Entry> back;
            ASSERT_EQ(m_index->last(*m.tag, c), CdxStatus::Ok);
            while (c.valid && back.size() <= want.size()) {
                back.emplace_back(c.key, c.record);
                ASSERT_EQ(m_index->prev(*m.tag, c), CdxStatus::Ok);
            }
            std::reverse(back.begin(), back.end());
            ASSERT_EQ(back, want) << "tag " << m.tag->name();
            for (int i = 0; i < seeks; ++i) compareSeek(m, want);
        }
    }

    void compareSeek(TagModel& m, const std::vector<Entry>& order) {
        std::string search;
        if (!order.empty() && m_rng() % 2) {
            search = order[m_rng() % order.size()].first;
        } else {
            search = m.tag->keyFor(RecordView{randomRow(), 1}, search) ? search : std::string();
        }
        if (m.tag->keyType() == ValueType::Character) search.resize(m_rng() % (search.size() + 1));
        const size_t n = search.size();
        auto prefix = [&](const Entry& e) { return e.first.substr(0, n); };
        // The model's answer: the first entry in tag order at or past the search.
        size_t at = 0;
        const bool desc = m.tag->descending();
        while (at < order.size() &&
               (desc ? prefix(order[at]) > search : prefix(order[at]) < search))
            ++at;
        CdxCursor c;
        bool found;
        ASSERT_EQ(m_index->seek(*m.tag, search, c, found), CdxStatus::Ok);
        ASSERT_EQ(c.valid, at < order.size());
        if (!c.valid) return;
        ASSERT_EQ(c.record, order[at].second) << m.tag->name() << " seek \"" << search << "\"";
        ASSERT_EQ(found, prefix(order[at]) == search);
        // Walking on over equal prefixes gives the model's run.
        while (found) {
            ++at;
            ASSERT_EQ(m_index->next(*m.tag, c), CdxStatus::Ok);
            const bool modelMatch = at < order.size() && prefix(order[at]) == search;
            const bool indexMatch = c.valid && c.key.compare(0, n, search) == 0;
            ASSERT_EQ(indexMatch, modelMatch);
            if (modelMatch) {
                ASSERT_EQ(c.record, order[at].second);
            }
            found = modelMatch;
        }
    }

    void checkFile() {
        std::vector<std::string> problems;
        EXPECT_EQ(m_index->checkData(m_table, problems), CdxStatus::Ok);
        for (const auto& p : problems) ADD_FAILURE() << p;
    }

    size_t rows() const { return m_table.rows.size(); }

  private:
    void add(const TagSpec& def) {
        std::string msg;
        ASSERT_EQ(m_index->addTag(def, &msg), CdxStatus::Ok) << msg;
        TagModel m;
        m.tag = m_index->findTag(def.name);
        m_models.push_back(std::move(m));
    }

    Records m_records{sampleLayout()};
    MemorySource m_table;
    std::unique_ptr<CdxIndex> m_index;
    std::vector<TagModel> m_models;
    std::mt19937 m_rng;
    int m_alphabet;
    bool m_defer;
    size_t m_batchBytes;
};

TEST(CdxRandomOps, ManySmallKeysWithDuplicatesAgreeWithTheModelAfterEachStep) {
    for (uint32_t seed : {1u, 2u, 3u}) {
        RandomOps ops(seed, 3);
        for (int i = 0; i < 1500; ++i) {
            ops.step();
            if (::testing::Test::HasFatalFailure()) return;
            if (i % 10 == 0) ops.compare(3);
            if (::testing::Test::HasFatalFailure()) return;
        }
        ops.checkFile();
    }
}

TEST(CdxRandomOps, DeferredAppendBatchesAgreeWithTheModel) {
    for (uint32_t seed : {5u, 6u}) {
        RandomOps ops(seed, seed == 5 ? 3 : 26, true);
        for (int i = 0; i < 4000; ++i) {
            ops.step();
            if (::testing::Test::HasFatalFailure()) return;
            if (i % 97 == 0) ops.compare(5);
            if (::testing::Test::HasFatalFailure()) return;
        }
        ops.compare(20);
        ops.checkFile();
    }
}

// Batches of 1 KB: bursts of appends spill runs, and the changes, walks,
// rebuilds and reopenings after them meet tags with runs waiting.
TEST(CdxRandomOps, DeferredAppendsSpilledAsRunsAgreeWithTheModel) {
    for (uint32_t seed : {8u, 9u}) {
        RandomOps ops(seed, seed == 8 ? 3 : 26, true, 1024);
        size_t mostRuns = 0;
        for (int round = 0; round < 20; ++round) {
            for (int i = 0; i < 150; ++i) ops.appendOne();
            if (::testing::Test::HasFatalFailure()) return;
            mostRuns = std::max(mostRuns, ops.spilledRuns());
            for (int i = 0; i < 60; ++i) ops.step();
            if (::testing::Test::HasFatalFailure()) return;
            ops.compare(5);
            if (::testing::Test::HasFatalFailure()) return;
        }
        EXPECT_GT(mostRuns, 10u);
        ops.compare(20);
        ops.checkFile();
    }
}

TEST(CdxRandomOps, WideKeySpaceGrowsDeepTreesThatStayRight) {
    RandomOps ops(42, 26);
    for (int i = 0; i < 12000; ++i) {
        ops.step();
        if (::testing::Test::HasFatalFailure()) return;
        if (i % 1000 == 999) {
            ops.compare(50);
            ops.checkFile();
            if (::testing::Test::HasFatalFailure()) return;
        }
    }
}

TEST(CdxRandomOps, HundredThousandRecordTable) {
    RandomOps ops(7, 26);
    while (ops.rows() < 100000) {
        ops.step(false);
        if (::testing::Test::HasFatalFailure()) return;
    }
    ops.compare(100);
    ops.checkFile();
    ops.reopen();
    for (int i = 0; i < 2000; ++i) ops.step(false);
    ops.compare(100);
    ops.rebuild();
    ops.compare(100);
    ops.checkFile();
}

}  // namespace
}  // namespace tavrel::kes04::cdx
