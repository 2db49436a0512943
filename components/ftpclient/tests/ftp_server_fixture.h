// A real FTP server on loopback for one test: pyftpdlib started from
// ftp_test_server.py with its own root folder, killed when the test ends.
#pragma once
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/tests/temp_folder.h"

namespace tavrel::ftpclient::testing {

class FtpTestServer {
  public:
    explicit FtpTestServer(std::vector<std::string> options = {}) {
        std::filesystem::create_directories(root());
        std::filesystem::create_directories(local());
        std::filesystem::path portFile = m_folder / "port";
        std::vector<std::string> args = {"/usr/bin/python3", TAVREL_FTP_TEST_SERVER,
                                         "--root",           root().string(),
                                         "--port-file",      portFile.string()};
        args.insert(args.end(), options.begin(), options.end());
        m_pid = ::fork();
        if (m_pid == 0) {
            // The server's own log goes to a file beside its root, for reading after a failure.
            int log = ::open((m_folder / "server.log").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            if (log >= 0) {
                ::dup2(log, 1);
                ::dup2(log, 2);
            }
            std::vector<char*> argv;
            for (auto& a : args) argv.push_back(a.data());
            argv.push_back(nullptr);
            ::execv(argv[0], argv.data());
            ::_exit(127);
        }
        // Poll for the port with a deadline: the server writes it once it listens.
        auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(15);
        while (std::chrono::steady_clock::now() < deadline) {
            std::ifstream in(portFile);
            if (in >> m_port) break;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    }
    ~FtpTestServer() {
        if (m_pid > 0) {
            ::kill(m_pid, SIGKILL);
            ::waitpid(m_pid, nullptr, 0);
        }
    }
    FtpTestServer(const FtpTestServer&) = delete;
    FtpTestServer& operator=(const FtpTestServer&) = delete;

    int port() const { return m_port; }
    std::string host() const { return "127.0.0.1:" + std::to_string(m_port); }
    // What the server serves, and a folder for the client's local files.
    std::filesystem::path root() const { return m_folder / "root"; }
    std::filesystem::path local() const { return m_folder / "local"; }

    // Writes a file below the root, making its folders.
    void put(const std::string& relative, const std::string& content) const {
        std::filesystem::path path = root() / relative;
        std::filesystem::create_directories(path.parent_path());
        platform::testing::writeBytes(path, content);
    }

  private:
    // Removed after the destructor has stopped the server that writes into it.
    platform::testing::TempFolder m_folder;
    pid_t m_pid = -1;
    int m_port = 0;
};

using platform::testing::readBytes;

// Bytes that differ at every position, so a shifted or short copy shows.
inline std::string patternBytes(std::size_t size) {
    std::string bytes(size, '\0');
    unsigned value = 12345;
    for (auto& c : bytes) {
        value = value * 1103515245u + 12345u;
        c = char(value >> 16);
    }
    return bytes;
}

}  // namespace tavrel::ftpclient::testing
