// The agent download's history record, in a real TABLEUPL.DBF made through
// the engine KES04.DLL: registered with the new agent level and type "U"
// when Folder2's files arrived, and not at all when a file failed.
#include <gtest/gtest.h>

#include "agent/history/history_table.h"
#include "agent/session/tests/update_session_fixture.h"
#include "agent/tables/engine_fields.h"
#include "agent/tables/tests/engine_fixture.h"

namespace tavrel::session::testing {
namespace {

class AgentHistoryTest : public SessionTest {
  protected:
    void SetUp() override {
        ASSERT_TRUE(engine.start());
        std::vector<FIELD4INFO> fields = {
            {"UPDATE_KEY", 'C', 10, 0, 0}, {"UPDATE_ZIP", 'C', 20, 0, 0},
            {"TYPE", 'C', 1, 0, 0},        {"ACT_FLAG", 'C', 1, 0, 0},
            {"CREATE_BY", 'C', 20, 0, 0},  {"UPDATE_ON", 'C', 14, 0, 0},
            {"UPDATE_BY", 'C', 20, 0, 0},  {"RESULT", 'C', 1, 0, 0},
            {"DESC_TEXT", 'C', 100, 0, 0}, {"DESC_MEMO", 'M', 10, 0, 0},
            {nullptr, 0, 0, 0, 0}};
        std::vector<TAG4INFO> tags = {{"UPDATE", "UPDATE_KEY+UPDATE_ZIP", "", 0, 0},
                                      {"DATE_BACK", "UPDATE_ON", "", 0, 10},
                                      {nullptr, nullptr, nullptr, 0, 0}};
        const std::string path = (applicationFolder() / "TABLEUPL").string();
        DATA4* data =
            K4(library, d4create, engine.handle(), path.c_str(), fields.data(), tags.data());
        ASSERT_NE(data, nullptr);
        K4(library, d4close, data);
        historyTable = &table;
    }
    // (UPDATE_KEY, TYPE, ACT_FLAG) of every record.
    std::vector<std::string> records() {
        std::vector<std::string> found;
        DATA4* data = engine.open((applicationFolder() / "TABLEUPL").string());
        EXPECT_NE(data, nullptr);
        if (!data) return found;
        for (int rc = K4(library, d4top, data); rc == 0 && !K4(library, d4eof, data);
             rc = K4(library, d4skip, data, 1L))
            found.push_back(tables::readField(engine, data, "UPDATE_KEY") + "/" +
                            tables::readField(engine, data, "TYPE") + "/" +
                            tables::readField(engine, data, "ACT_FLAG"));
        K4(library, d4close, data);
        return found;
    }

    tables::Kes04Library library{[](const std::string&) {}, tables::testing::engineFile()};
    tables::DatabaseEngine engine{library};
    history::HistoryTable table{engine, clock, (scratch.path() / "app").string() + "/"};
};

TEST_F(AgentHistoryTest, AgentDownloadFromFolder2IsRegisteredAsTypeU) {
    startServer();
    server->put(kFolder2 + "UPDATE.VER", "UPDATE0012");
    server->put(kFolder2 + "TavrelUpdate1.exe", "new agent");
    setLevels("TAVREL0122", "UPDATE0011");
    open(true);
    session->cmdConnectClick();
    ASSERT_TRUE(session->restartFlag());
    EXPECT_EQ(records(), std::vector<std::string>{"UPDATE0012/U/T"});
}

TEST_F(AgentHistoryTest, FailedAgentFileLeavesNoRecordAndTheRestartFlagClear) {
    startServer({"--cut-after", "1000"});
    server->put(kFolder2 + "UPDATE.VER", "UPDATE0012");
    server->put(kFolder2 + "TavrelUpdate1.exe", std::string(5000, 'a'));
    setLevels("TAVREL0122", "UPDATE0011");
    open(true);
    session->cmdConnectClick();
    EXPECT_FALSE(session->restartFlag());
    EXPECT_FALSE(platform::fileExists(agentFolder() / "UPDATE.VER"));
    EXPECT_TRUE(records().empty());
    EXPECT_EQ(window->linesStarting("Checking Download Remote Folder4").size(), 1u)
        << "the session goes on with the packages";
}

}  // namespace
}  // namespace tavrel::session::testing
