#include "components/ftpclient/ftp_client.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>

#include "components/ftpclient/tests/ftp_server_fixture.h"

namespace tavrel::ftpclient {
namespace {

using testing::FtpTestServer;
using testing::patternBytes;
using testing::readBytes;
namespace fs = std::filesystem;

const char* const kBase = "httpdocs/download/TAVREL/";

// Records every notification, as the update window would show them.
struct RecordingObserver : FtpClientObserver {
    int connected = 0;
    int disconnected = 0;
    std::vector<int> errors;
    std::vector<int> replies;
    std::vector<std::string> entries;
    std::vector<std::uint64_t> progress;
    std::uint64_t progressTotal = 0;
    void onConnected() override { ++connected; }
    void onDisconnected() override { ++disconnected; }
    void onError(int code, const std::string&) override { errors.push_back(code); }
    void onCommandReply(int code, const std::string&) override { replies.push_back(code); }
    void onTransferProgress(const std::string&, std::uint64_t total, std::uint64_t done,
                            int) override {
        progressTotal = total;
        progress.push_back(done);
    }
    void onDirectoryEntry(const RemoteEntry& entry) override { entries.push_back(entry.name); }
};

class FtpClientTest : public ::testing::Test {
  protected:
    void start(std::vector<std::string> options = {}) {
        server = std::make_unique<FtpTestServer>(std::move(options));
        ASSERT_NE(server->port(), 0) << "test FTP server did not start";
        fs::create_directories(server->root() / kBase);
        client.setHost(server->host());
        client.setUser("kestmoor");
        client.setPassword("copperfinch");
    }
    void connectToBase() {
        ASSERT_EQ(client.connect(), 0);
        ASSERT_EQ(client.changeFolder("/httpdocs/download/TAVREL"), 0);
    }
    std::vector<std::string> localFiles() const {
        std::vector<std::string> names;
        for (const auto& item : fs::directory_iterator(server->local()))
            names.push_back(item.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }

    std::unique_ptr<FtpTestServer> server;
    RecordingObserver observer;
    FtpClient client{&observer};
};

TEST_F(FtpClientTest, ListsFolderEntriesThenEndsWith12268) {
    start();
    server->put(std::string(kBase) + "UPDATE2/UPDATES/TAVREL0123.ZIP", "0123456789");
    server->put(std::string(kBase) + "UPDATE2/UPDATES/name with  blanks.txt", "x");
    fs::create_directories(server->root() / kBase / "UPDATE2/UPDATES/SUB");
    connectToBase();
    EXPECT_EQ(observer.connected, 1);
    ASSERT_EQ(client.changeFolder("UPDATE2"), 0);
    ASSERT_EQ(client.changeFolder("UPDATES"), 0);
    EXPECT_EQ(client.currentFolder(), "/httpdocs/download/TAVREL/UPDATE2/UPDATES");
    ASSERT_EQ(client.openListing(), 0);
    std::map<std::string, RemoteEntry> seen;
    RemoteEntry entry;
    int rc = 0;
    for (int i = 0; i < 100 && (rc = client.readNextEntry(entry)) == 0; ++i)
        seen[entry.name] = entry;
    EXPECT_EQ(rc, 12268);
    EXPECT_EQ(client.lastError(), 12268);
    ASSERT_EQ(seen.size(), 3u);
    EXPECT_EQ(seen["TAVREL0123.ZIP"].size(), 10u);
    EXPECT_FALSE(seen["TAVREL0123.ZIP"].isDirectory);
    EXPECT_EQ(seen["name with  blanks.txt"].size(), 1u);
    EXPECT_TRUE(seen["SUB"].isDirectory);
    EXPECT_EQ(observer.entries.size(), 3u);
    EXPECT_EQ(client.closeListing(), 0);
    EXPECT_EQ(client.readNextEntry(entry), 12269);
    // ".." goes back up one folder on the server too.
    ASSERT_EQ(client.changeFolder(".."), 0);
    EXPECT_EQ(client.currentFolder(), "/httpdocs/download/TAVREL/UPDATE2");
    EXPECT_NE(std::find(observer.replies.begin(), observer.replies.end(), 230),
              observer.replies.end());
}

TEST_F(FtpClientTest, ListsADosLayoutServer) {
    start({"--dos-listing"});
    server->put(std::string(kBase) + "big name.ZIP", patternBytes(4097));
    fs::create_directories(server->root() / kBase / "UPDATE0");
    connectToBase();
    ASSERT_EQ(client.openListing(), 0);
    std::set<std::string> names;
    RemoteEntry entry;
    for (int i = 0; i < 10 && client.readNextEntry(entry) == 0; ++i) {
        names.insert(entry.name);
        if (entry.name == "big name.ZIP") {
            EXPECT_EQ(entry.size(), 4097u);
        }
        if (entry.name == "UPDATE0") {
            EXPECT_TRUE(entry.isDirectory);
        }
    }
    EXPECT_EQ(names, (std::set<std::string>{"UPDATE0", "big name.ZIP"}));
}

TEST_F(FtpClientTest, GetFileDownloadsOverOneControlConnection) {
    start();
    const std::string content = patternBytes(3 * 1024 * 1024 + 7);
    server->put(std::string(kBase) + "TAVREL0123.ZIP", content);
    server->put(std::string(kBase) + "UPDATE.VER", "UPDATE0007");
    client.setTraceFile(server->local() / "FTPTRACE5.LOG");
    client.setTrace(true);
    connectToBase();
    fs::path target = server->local() / "TAVREL0123.ZIP";
    ASSERT_EQ(client.getFile(target, "TAVREL0123.ZIP"), 0);
    EXPECT_TRUE(readBytes(target) == content);
    ASSERT_FALSE(observer.progress.empty());
    EXPECT_EQ(observer.progress.back(), content.size());
    EXPECT_EQ(observer.progressTotal, content.size());
    ASSERT_EQ(client.getFile(server->local() / "UPDATE.VER", "UPDATE.VER"), 0);
    EXPECT_EQ(readBytes(server->local() / "UPDATE.VER"), "UPDATE0007");
    client.disconnect();
    EXPECT_EQ(observer.disconnected, 1);
    EXPECT_FALSE(client.connected());
    std::string trace = readBytes(server->local() / "FTPTRACE5.LOG");
    std::size_t logins = 0;
    for (std::size_t at = trace.find("> USER "); at != std::string::npos;
         at = trace.find("> USER ", at + 1))
        ++logins;
    EXPECT_EQ(logins, 1u) << trace;
}

TEST_F(FtpClientTest, RemoteFileIsReadAsCharacters) {
    start();
    server->put(std::string(kBase) + "UPDATE0/UPDATES/UPDATE.VER", "UPDATE0007\r\n");
    connectToBase();
    ASSERT_EQ(client.changeFolder("UPDATE0/UPDATES"), 0);
    ASSERT_EQ(client.openRemoteFile("UPDATE.VER"), 0);
    std::string text;
    ASSERT_EQ(client.readCharacters(10, text), 0);
    EXPECT_EQ(text, "UPDATE0007");
    ASSERT_EQ(client.readCharacters(10, text), 0);
    EXPECT_EQ(text, "\r\n");
    ASSERT_EQ(client.readCharacters(10, text), 0);
    EXPECT_EQ(text, "");
    EXPECT_EQ(client.closeRemoteFile(), 0);
    EXPECT_EQ(client.readCharacters(10, text), code(FtpResult::kNoRemoteFileOpen));
    EXPECT_EQ(client.openRemoteFile("MISSING.VER"), code(FtpResult::kFileMissing));
    EXPECT_TRUE(client.connected());
}

TEST_F(FtpClientTest, MissingFolderFailsAndKeepsTheCurrentFolder) {
    start();
    connectToBase();
    EXPECT_EQ(client.changeFolder("UPDTST0"), code(FtpResult::kFolderMissing));
    EXPECT_EQ(client.lastError(), code(FtpResult::kFolderMissing));
    ASSERT_EQ(observer.errors.size(), 1u);
    EXPECT_EQ(observer.errors[0], code(FtpResult::kFolderMissing));
    EXPECT_EQ(client.currentFolder(), "/httpdocs/download/TAVREL");
    EXPECT_TRUE(client.connected());
    // The session goes on over the same connection.
    EXPECT_EQ(client.openListing(), 0);
}

TEST_F(FtpClientTest, MissingFileLeavesNoLocalFile) {
    start();
    connectToBase();
    EXPECT_EQ(client.getFile(server->local() / "X.ZIP", "X.ZIP"), code(FtpResult::kFileMissing));
    EXPECT_TRUE(localFiles().empty());
}

TEST_F(FtpClientTest, RefusedLoginLeavesTheClientDisconnected) {
    start({"--refuse-login"});
    EXPECT_EQ(client.connect(), code(FtpResult::kLoginRefused));
    EXPECT_FALSE(client.connected());
    EXPECT_EQ(client.lastError(), code(FtpResult::kLoginRefused));
    EXPECT_EQ(observer.connected, 0);
    EXPECT_EQ(client.changeFolder("/"), code(FtpResult::kNotConnected));
}

TEST_F(FtpClientTest, CutDataConnectionKeepsTheOldFileAndLeavesNoPartialFile) {
    start({"--cut-after", "100000"});
    server->put(std::string(kBase) + "TAVREL0123.ZIP", patternBytes(1024 * 1024));
    connectToBase();
    fs::path target = server->local() / "TAVREL0123.ZIP";
    std::ofstream(target) << "OLD";
    EXPECT_EQ(client.getFile(target, "TAVREL0123.ZIP"), code(FtpResult::kTransferFailed));
    EXPECT_EQ(readBytes(target), "OLD");
    EXPECT_EQ(localFiles(), std::vector<std::string>{"TAVREL0123.ZIP"});
    // Without an old file nothing at all is left behind.
    EXPECT_NE(client.getFile(server->local() / "NEW.ZIP", "TAVREL0123.ZIP"), 0);
    EXPECT_EQ(localFiles(), std::vector<std::string>{"TAVREL0123.ZIP"});
}

TEST_F(FtpClientTest, StallingServerTimesOutAndDisconnects) {
    start({"--stall-after", "50000"});
    server->put(std::string(kBase) + "TAVREL0123.ZIP", patternBytes(1024 * 1024));
    client.setTimeouts({std::chrono::milliseconds(5000), std::chrono::milliseconds(1000)});
    connectToBase();
    fs::path target = server->local() / "TAVREL0123.ZIP";
    std::ofstream(target) << "OLD";
    auto started = std::chrono::steady_clock::now();
    EXPECT_EQ(client.getFile(target, "TAVREL0123.ZIP"), code(FtpResult::kTimedOut));
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(20));
    EXPECT_EQ(readBytes(target), "OLD");
    EXPECT_EQ(localFiles(), std::vector<std::string>{"TAVREL0123.ZIP"});
    EXPECT_FALSE(client.connected());
    EXPECT_EQ(observer.disconnected, 1);
}

TEST_F(FtpClientTest, TraceHoldsCommandsAndRepliesButNeverThePassword) {
    start();
    fs::path trace = server->local() / "FTPTRACE5.LOG";
    client.setTraceFile(trace);
    client.setTrace(true);
    connectToBase();
    ASSERT_EQ(client.openListing(), 0);
    client.closeListing();
    client.disconnect();
    std::string text = readBytes(trace);
    EXPECT_NE(text.find("> USER kestmoor"), std::string::npos) << text;
    EXPECT_NE(text.find("> PASS ****"), std::string::npos) << text;
    EXPECT_NE(text.find("< 230 "), std::string::npos) << text;
    EXPECT_NE(text.find("> CWD /httpdocs/download/TAVREL"), std::string::npos) << text;
    EXPECT_NE(text.find("> LIST"), std::string::npos) << text;
    EXPECT_EQ(text.find("copperfinch"), std::string::npos) << text;
    EXPECT_NE(text.find("> QUIT"), std::string::npos) << text;
}

TEST_F(FtpClientTest, TraceOffWritesNothing) {
    start();
    client.setTraceFile(server->local() / "FTPTRACE5.LOG");
    connectToBase();
    EXPECT_FALSE(fs::exists(server->local() / "FTPTRACE5.LOG"));
}

TEST_F(FtpClientTest, UnsafeNamesAreRefusedBeforeAnythingIsSent) {
    start();
    server->put("x.txt", "x");
    connectToBase();
    EXPECT_EQ(client.getFile(server->local() / "a", "../x.txt"), code(FtpResult::kUnsafeName));
    EXPECT_EQ(client.getFile(server->local() / "a", "x\r\nDELE y"), code(FtpResult::kUnsafeName));
    EXPECT_EQ(client.changeFolder("a\r\nDELE y"), code(FtpResult::kUnsafeName));
    EXPECT_TRUE(localFiles().empty());
    EXPECT_TRUE(client.connected());
}

// A notification handler that calls back in while bytes move is turned away.
struct ReenteringObserver : RecordingObserver {
    FtpClient* client = nullptr;
    int reentry = 0;
    void onTransferProgress(const std::string&, std::uint64_t, std::uint64_t, int) override {
        if (!reentry) reentry = client->changeFolder("/");
    }
};

TEST(FtpClientReentry, CallFromNotificationDuringTransferIsBusy) {
    FtpTestServer server;
    ASSERT_NE(server.port(), 0);
    server.put("F.BIN", patternBytes(200000));
    ReenteringObserver observer;
    FtpClient client(&observer);
    observer.client = &client;
    client.setHost(server.host());
    client.setUser("kestmoor");
    client.setPassword("copperfinch");
    ASSERT_EQ(client.connect(), 0);
    ASSERT_EQ(client.getFile(server.local() / "F.BIN", "F.BIN"), 0);
    EXPECT_EQ(observer.reentry, code(FtpResult::kBusy));
    EXPECT_EQ(readBytes(server.local() / "F.BIN").size(), 200000u);
}

TEST(FtpClientConnect, BadHostAndClosedPortFail) {
    RecordingObserver observer;
    FtpClient client(&observer);
    client.setHost("127.0.0.1:99999");
    EXPECT_EQ(client.connect(), code(FtpResult::kBadHost));
    client.setHost("");
    EXPECT_EQ(client.connect(), code(FtpResult::kBadHost));
    // Nothing listens on port 1 of loopback.
    client.setHost("127.0.0.1:1");
    client.setTimeouts({std::chrono::milliseconds(3000), std::chrono::milliseconds(3000)});
    EXPECT_EQ(client.connect(), code(FtpResult::kConnectFailed));
    EXPECT_FALSE(client.connected());
    EXPECT_EQ(client.disconnect(), 0);
    EXPECT_EQ(observer.disconnected, 0);
}

}  // namespace
}  // namespace tavrel::ftpclient
