// Test doubles and helpers for the installer: a temporary agent folder, a
// recording view, a hand-driven event queue, a recording program starter and
// file operations that fail on request.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <deque>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "installer/installer.h"
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

// Real file operations, except those a test tells to fail. Copies are
// recorded as "from -> to" with paths relative to the agent folder.
class FaultyFiles : public PlatformFileOperations {
  public:
    explicit FaultyFiles(const fs::path& agentFolder) : m_root(agentFolder) {}

    // Makes the copy into the relative path `to` fail with `error`.
    void failCopyTo(const std::string& to, int error) { m_copyFailures[to] = error; }
    // The same, after writing `leftover` where the copy was going, as a copy
    // that broke off half-way does.
    void failCopyLeaving(const std::string& to, int error, const std::string& leftover) {
        m_copyFailures[to] = error;
        m_leftovers[to] = leftover;
    }
    // Makes one particular copy, written "from -> to", fail with `error`.
    void failCopy(const std::string& fromTo, int error) { m_copyFailures[fromTo] = error; }
    void failDelete(const std::string& path, int error) { m_deleteFailures[path] = error; }
    // The file keeps an attribute that cannot be reset.
    void stuckAttributes(const std::string& path) { m_stuck.push_back(path); }
    // Makes the write of the relative path `path` fail with `error`, writing nothing.
    void failWrite(const std::string& path, int error) { m_writeFailures[path] = error; }

    int writeFile(const fs::path& path, const std::string& content) override {
        if (auto it = m_writeFailures.find(relative(path)); it != m_writeFailures.end()) {
            return it->second;
        }
        return PlatformFileOperations::writeFile(path, content);
    }

    int copyFile(const fs::path& from, const fs::path& to) override {
        if (int error = injectedCopyFailure(from, to)) return error;
        return PlatformFileOperations::copyFile(from, to);
    }
    int replaceFile(const fs::path& from, const fs::path& to) override {
        if (int error = injectedCopyFailure(from, to)) return error;
        return PlatformFileOperations::replaceFile(from, to);
    }
    int deleteFile(const fs::path& path) override {
        deletes.push_back(relative(path));
        if (auto it = m_deleteFailures.find(relative(path)); it != m_deleteFailures.end()) {
            return it->second;
        }
        return PlatformFileOperations::deleteFile(path);
    }
    bool isNormal(const fs::path& path) override {
        for (const auto& stuck : m_stuck) {
            if (relative(path) == stuck) return false;
        }
        return PlatformFileOperations::isNormal(path);
    }
    int copiesOf(const std::string& record) const {
        return int(std::count(copies.begin(), copies.end(), record));
    }

    std::vector<std::string> copies;
    std::vector<std::string> deletes;

  private:
    // Records the copy; the error number to fail it with, or 0.
    int injectedCopyFailure(const fs::path& from, const fs::path& to) {
        const std::string record = relative(from) + " -> " + relative(to);
        copies.push_back(record);
        if (auto it = m_copyFailures.find(record); it != m_copyFailures.end()) return it->second;
        if (auto it = m_copyFailures.find(relative(to)); it != m_copyFailures.end()) {
            if (auto left = m_leftovers.find(it->first); left != m_leftovers.end()) {
                std::ofstream(to, std::ios::binary | std::ios::trunc) << left->second;
            }
            return it->second;
        }
        return 0;
    }
    std::string relative(const fs::path& path) const {
        return fs::path(path).lexically_relative(m_root).generic_string();
    }
    fs::path m_root;
    std::map<std::string, int> m_copyFailures;
    std::map<std::string, std::string> m_leftovers;
    std::map<std::string, int> m_deleteFailures;
    std::map<std::string, int> m_writeFailures;
    std::vector<std::string> m_stuck;
};

}  // namespace tavrel::installer::testing
