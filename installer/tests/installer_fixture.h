// Test doubles and helpers for the installer: a temporary agent folder, a
// recording view, a hand-driven event queue, a recording program starter and
// file operations that fail on request.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <deque>
#include <filesystem>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "installer/installer.h"
#include "platform/tests/fault_plan.h"
#include "platform/tests/temp_folder.h"

namespace tavrel::installer::testing {

namespace fs = std::filesystem;

// A fresh agent folder under the system's temporary folder, removed afterwards.
class AgentFolder : public platform::testing::TempFolder {
  public:
    void write(const std::string& name, const std::string& content) const {
        const fs::path file = path() / name;
        fs::create_directories(file.parent_path());
        platform::testing::writeBytes(file, content);
    }
    std::string read(const std::string& name) const {
        return platform::testing::readBytes(path() / name);
    }
    bool has(const std::string& name) const { return fs::exists(path() / name); }
    void makeFolder(const std::string& name) const { fs::create_directories(path() / name); }
    std::vector<std::string> files(const std::string& folder) const {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(path() / folder)) {
            names.push_back(entry.path().filename().string());
        }
        std::sort(names.begin(), names.end());
        return names;
    }
    // The two version files: the installed version and the one to install.
    void versions(const std::string& installed, const std::string& updated) const {
        write("TAVRELUPD.VER", installed);
        write("UPDATE.VER", updated);
    }
};

class RecordingView : public InstallerView {
  public:
    void showFolder(const std::string& text) override { folder = text; }
    void showVersions(const std::string& a, const std::string& b) override {
        installed = a;
        updated = b;
    }
    void showLog(const std::string& text) override { log = text; }
    void setRunSetupEnabled(bool enabled) override { runSetupEnabled = enabled; }
    void setExitEnabled(bool enabled) override { exitEnabled = enabled; }
    void repaintNow() override { ++repaints; }
    void startTickTimer(int milliseconds) override { timerPeriod = milliseconds; }
    void closeWindow() override { ++closes; }

    std::string folder, installed, updated, log;
    bool runSetupEnabled = false;
    bool exitEnabled = false;
    int repaints = 0;
    int timerPeriod = 0;
    int closes = 0;
};

// Posted steps wait here until the test lets the "event loop" run them.
class ManualQueue : public EventQueue {
  public:
    void post(std::function<void()> step) override { m_steps.push_back(std::move(step)); }
    // Runs the steps in order, including those they post, until none is left.
    int runAll() {
        int ran = 0;
        while (!m_steps.empty()) {
            auto step = std::move(m_steps.front());
            m_steps.pop_front();
            step();
            ++ran;
        }
        return ran;
    }
    // Runs the first step only; false when none is queued.
    bool runOne() {
        if (m_steps.empty()) return false;
        auto step = std::move(m_steps.front());
        m_steps.pop_front();
        step();
        return true;
    }
    std::size_t pending() const { return m_steps.size(); }

  private:
    std::deque<std::function<void()>> m_steps;
};

class RecordingStarter : public ProgramStarter {
  public:
    int start(const std::string& commandLine, const fs::path& workingFolder) override {
        started.emplace_back(commandLine, workingFolder.string());
        return 0;
    }
    std::vector<std::pair<std::string, std::string>> started;
};

// Real file operations, except those a test tells to fail: the failures and
// the record of copies ("from -> to", paths relative to the agent folder) are
// those of the shared fault plan, which sees every copy, delete and write the
// installer makes through the platform layer. Installed while it lives; one
// at a time.
class FaultyFiles : public PlatformFileOperations {
  public:
    explicit FaultyFiles(const fs::path& agentFolder) : m_plan(agentFolder) {}

    // Makes the copy into the relative path `to` fail with `error`.
    void failCopyTo(const std::string& to, int error) {
        m_plan.failOn(platform::FileOperation::kCopy, to, error);
    }
    // The same, after writing `leftover` where the copy was going, as a copy
    // that broke off half-way does.
    void failCopyLeaving(const std::string& to, int error, const std::string& leftover) {
        m_plan.failOn(platform::FileOperation::kCopy, to, error).leaving(leftover);
    }
    // Makes one particular copy, written "from -> to", fail with `error`.
    void failCopy(const std::string& fromTo, int error) {
        const size_t arrow = fromTo.find(" -> ");
        ASSERT_NE(arrow, std::string::npos) << fromTo;
        m_plan.failOn(platform::FileOperation::kCopy, fromTo.substr(arrow + 4), error)
            .from(fromTo.substr(0, arrow));
    }
    void failDelete(const std::string& path, int error) {
        m_plan.failOn(platform::FileOperation::kDelete, path, error);
    }
    // The file keeps an attribute that cannot be reset.
    void stuckAttributes(const std::string& path) { m_stuck.push_back(path); }
    // Makes the write of the relative path `path` fail with `error`, writing nothing.
    void failWrite(const std::string& path, int error) {
        m_plan.failOn(platform::FileOperation::kWriteFile, path, error);
    }

    bool isNormal(const fs::path& path) override {
        for (const auto& stuck : m_stuck) {
            if (m_plan.relative(path) == stuck) return false;
        }
        return PlatformFileOperations::isNormal(path);
    }
    // The copies tried so far, failed ones included.
    std::vector<std::string> copies() const {
        return m_plan.records(platform::FileOperation::kCopy);
    }
    int copiesOf(const std::string& record) const {
        return m_plan.count(platform::FileOperation::kCopy, record);
    }

  private:
    platform::testing::FaultPlan m_plan;
    std::vector<std::string> m_stuck;
};

}  // namespace tavrel::installer::testing
