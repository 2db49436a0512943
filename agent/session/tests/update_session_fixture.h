// Test pieces of the update session: a window that records what it is told, a
// package installation that records what it is asked, and a fixture with an
// agent folder, an application folder, the configuration and a real FTP
// server on loopback laid out as the update server.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "agent/session/tests/scratch_folder.h"
#include "agent/session/update_session.h"
#include "components/ftpclient/tests/ftp_server_fixture.h"
#include "platform/files.h"

namespace tavrel::session::testing {

namespace fs = std::filesystem;
using ftpclient::testing::FtpTestServer;

inline const std::string kServerBase = "httpdocs/download/TAVREL/";
inline const std::string kFolder1 = kServerBase + "UPDATE0/SETUPS/";
inline const std::string kFolder2 = kServerBase + "UPDATE0/UPDATES/";
inline const std::string kFolder4 = kServerBase + "UPDATE2/UPDATES/";

// Everything the window is told, in order.
class RecordingWindow : public UpdateWindowView,
                        public StatusPanels,
                        public ConversionProgressView,
                        public history::WindowLogView {
  public:
    explicit RecordingWindow(const platform::Clock& clock) : m_clock(clock) {}

    void setButtonEnabled(UpdateButton, bool) override {}
    void setMenuItem(OptionsItem, bool, bool) override {}
    void showCommandLog(bool shown) override { commandLogShown = shown; }
    void remoteListCleared() override { remoteNames.clear(); }
    void remoteItemInserted(int index, std::string_view name) override {
        remoteNames.insert(remoteNames.begin() + index, std::string(name));
    }
    void remoteItemSelected(int, bool) override {}
    void remoteCurrentItem(int) override {}
    void transferProgressChanged(int value, int maximum) override {
        progress.push_back({value, maximum});
    }
    void showDateTime(std::string_view text) override { dateTime = text; }
    void setTimer(bool running, int interval) override {
        timerRunning = running;
        timerInterval = interval;
    }
    void closeWindow() override {
        ++closeRequests;
        if (onClose) onClose();
    }
    void showUpdateNotice() override { ++notices; }
    void letEventsRun() override {}

    std::string panelText(std::string_view key) const override {
        auto it = panels.find(std::string(key));
        return it == panels.end() ? std::string() : it->second;
    }
    void setPanelText(std::string_view key, std::string_view text) override {
        panels[std::string(key)] = text;
    }

    void ProgressText(int, std::string_view) override {}
    void ProgressValue(int, std::int64_t, std::int64_t) override {}
    void SelectLogPage(int page) override { pagesSelected.push_back(page); }

    void pageCleared(int) override {}
    void lineAdded(int page, std::string_view line) override {
        if (page == 0) {
            lines.emplace_back(line);
            lineTimes.push_back(m_clock.now());
        }
    }
    void statusChanged(int page, std::string_view text) override {
        if (page == 0) status0.emplace_back(text);
    }

    // Lines of page 0 (over every clear) that start with `prefix`.
    std::vector<std::string> linesStarting(std::string_view prefix) const {
        std::vector<std::string> found;
        for (const auto& line : lines)
            if (line.starts_with(prefix)) found.push_back(line);
        return found;
    }

    bool commandLogShown = false;
    std::vector<std::string> remoteNames;
    std::vector<std::pair<int, int>> progress;
    std::string dateTime;
    bool timerRunning = false;
    int timerInterval = 0;
    int closeRequests = 0;
    std::function<void()> onClose;
    int notices = 0;
    std::map<std::string, std::string> panels;
    std::vector<int> pagesSelected;
    std::vector<std::string> lines;
    std::vector<platform::DateTime> lineTimes;
    std::vector<std::string> status0;

  private:
    const platform::Clock& m_clock;
};

// Installs by writing the package's level as the application level, as the
// real installation does on success; a level named in `failLevels` fails.
class RecordingInstallation : public PackageInstallation {
  public:
    RecordingInstallation(VersionFiles& versions, StatusPanels& panels)
        : m_versions(versions), m_panels(panels) {}
    void InstallUpdatePackage(const std::string& packageFile) override {
        installed.push_back(fs::path(packageFile).filename().string());
        contents.push_back(platform::readFile(packageFile).value_or("<missing>"));
        if (duringInstall) duringInstall();
        const std::string level = fs::path(packageFile).stem().string();
        if (failLevels.count(level) == 0) {
            m_versions.setLevel(VersionKind::Application, level);
            m_versions.WriteVersionFile(VersionKind::Application);
        }
        m_panels.setPanelText("CURVERSION", m_versions.ReadVersionFile(VersionKind::Application));
    }
    std::string resultText() const override { return {}; }

    std::vector<std::string> installed;
    std::vector<std::string> contents;
    std::set<std::string> failLevels;
    std::function<void()> duringInstall;

  private:
    VersionFiles& m_versions;
    StatusPanels& m_panels;
};

class SessionTest : public ::testing::Test {
  protected:
    SessionTest() {
        fs::create_directories(agentFolder());
        fs::create_directories(applicationFolder());
        state.agentFolder = agentFolder().string() + "/";
        state.applicationFolder = applicationFolder().string() + "/";
        state.remoteBaseFolder = "/httpdocs/download/TAVREL";
        state.updateFolder0 = "UPDATE0";
        state.updateFolder2 = "UPDATE2";
        state.setupsFolder = "SETUPS";
        state.updatesFolder = "UPDATES";
        configuration.WriteUpdateFinish("03:00");
    }

    fs::path agentFolder() const { return scratch.path() / "agent"; }
    fs::path applicationFolder() const { return scratch.path() / "app"; }

    // A server laid out as the update server, with the fault switches given.
    FtpTestServer& startServer(std::vector<std::string> options = {}) {
        server = std::make_unique<FtpTestServer>(std::move(options));
        EXPECT_NE(server->port(), 0) << "test FTP server did not start";
        fs::create_directories(server->root() / kFolder1);
        fs::create_directories(server->root() / kFolder2);
        fs::create_directories(server->root() / kFolder4);
        configuration.WriteFtpHost(server->host());
        return *server;
    }
    void setLevels(const std::string& application, const std::string& agent) {
        tavrel::testing::writeBytes(applicationFolder() / "TAVRELUPD.VER", application);
        tavrel::testing::writeBytes(agentFolder() / "TAVRELUPD.VER", agent);
    }
    // A fresh window and session, loaded.
    UpdateSession& open(bool automatic) {
        session.reset();
        state.automaticRun = automatic;
        window = std::make_unique<RecordingWindow>(clock);
        installation = std::make_unique<RecordingInstallation>(versions, *window);
        session = std::make_unique<UpdateSession>(
            SessionCollaborators{state, configuration, clock, versions, historyTable, timeouts});
        session->attach(*window, *window, *window);
        session->windowLog().setView(window.get());
        session->setInstallation(installation.get());
        window->onClose = [this] { closeAllowed.push_back(session->QueryUnload()); };
        session->FormLoad();
        return *session;
    }
    std::string appLevel() {
        return tavrel::testing::readBytes(applicationFolder() / "TAVRELUPD.VER");
    }
    std::string page0() const { return session->windowLog().pageText(0); }

    tavrel::testing::ScratchFolder scratch;
    agent::RunState state;
    agent::Configuration configuration{state};
    platform::FixedClock clock{platform::DateTime{2026, 12, 7, 1, 0, 0}};
    VersionFiles versions{(scratch.path() / "agent").string() + "/",
                          [this] { return state.applicationFolder; }};
    ftpclient::FtpTimeouts timeouts{std::chrono::milliseconds(5000),
                                    std::chrono::milliseconds(5000)};
    std::unique_ptr<FtpTestServer> server;
    std::unique_ptr<RecordingWindow> window;
    std::unique_ptr<RecordingInstallation> installation;
    std::unique_ptr<UpdateSession> session;
    std::vector<bool> closeAllowed;
    // The history table the next open() passes to the session, or nullptr.
    history::HistoryTable* historyTable = nullptr;
};

}  // namespace tavrel::session::testing
