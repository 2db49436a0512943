// The FTP client component: one session with one FTP server over libcurl.
//
// Lifetime: an FtpClient starts disconnected and idle. `connect` logs in and
// keeps the control connection open between calls until `disconnect`, a lost
// connection or destruction. Every call runs on the caller's thread and returns
// when its work is done; while bytes move, the observer's notifications arrive
// from inside the call (libcurl's multi interface is pumped here, no threads).
// A notification handler must not call back into the component's operations
// while one runs: such calls return FtpResult::kBusy.
//
// Every operation returns 0 on success or an FtpResult number, and sets
// `lastError` to the same number when it fails; nothing is thrown.
#pragma once
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "components/ftpclient/ftp_codes.h"
#include "components/ftpclient/ftp_listing.h"

namespace tavrel::ftpclient {

// What the component tells its owner while it works. Every function has an
// empty default, so an observer overrides only what it shows.
class FtpClientObserver {
  public:
    virtual ~FtpClientObserver() = default;
    virtual void onConnected() {}
    virtual void onDisconnected() {}
    // A failed operation: its FtpResult number and a description.
    virtual void onError(int /*errorCode*/, const std::string& /*description*/) {}
    // Every reply line of the server: its three-digit code and the text after it.
    virtual void onCommandReply(int /*resultCode*/, const std::string& /*resultText*/) {}
    // While a file moves: total size (0 when unknown), bytes so far, percent (0..100).
    virtual void onTransferProgress(const std::string& /*file*/, std::uint64_t /*totalSize*/,
                                    std::uint64_t /*bytesDone*/, int /*percent*/) {}
    // Each entry of a listing as it is read from the server.
    virtual void onDirectoryEntry(const RemoteEntry& /*entry*/) {}
};

// Time limits of a session.
struct FtpTimeouts {
    std::chrono::milliseconds connect{30000};  // reaching the server and logging in
    std::chrono::milliseconds stall{60000};    // an exchange in which no byte moves
};

class FtpClient {
  public:
    // `observer` (may be null) must outlive the client.
    explicit FtpClient(FtpClientObserver* observer = nullptr);
    ~FtpClient();
    FtpClient(const FtpClient&) = delete;
    FtpClient& operator=(const FtpClient&) = delete;

    // "host" or "host:port" (port 21 when none is given).
    void setHost(std::string host) { m_host = std::move(host); }
    const std::string& host() const { return m_host; }
    void setUser(std::string user) { m_user = std::move(user); }
    const std::string& user() const { return m_user; }
    void setPassword(std::string password) { m_password = std::move(password); }
    const std::string& password() const { return m_password; }
    void setTimeouts(FtpTimeouts timeouts) { m_timeouts = timeouts; }

    bool connected() const { return m_connected; }
    // The number of the last failure; the owner clears it by setting 0.
    int lastError() const { return m_lastError; }
    void setLastError(int value) { m_lastError = value; }

    // With the trace on, every command and reply is appended, time-stamped, to
    // the trace file; the password is written as "****".
    void setTrace(bool on) { m_trace = on; }
    bool trace() const { return m_trace; }
    void setTraceFile(std::filesystem::path file) { m_traceFile = std::move(file); }
    const std::filesystem::path& traceFile() const { return m_traceFile; }

    // Logs in with host, user and password (passive mode, binary transfers).
    // Notifies connected on success. Connecting while connected returns 0.
    int connect();
    // Ends the session (QUIT) and notifies disconnected; 0 also when not connected.
    int disconnect();
    // Changes the current remote folder: an absolute path, "..", or a path
    // relative to the current folder. The server is asked; on failure the
    // current folder stays as it was.
    int changeFolder(std::string_view folder);
    // The current remote folder, absolute ("/" at the root).
    const std::string& currentFolder() const { return m_folder; }

    // Lists the current folder; the entries are then read one by one with
    // readNextEntry (kEndOfListing after the last) until closeListing.
    int openListing();
    int readNextEntry(RemoteEntry& entry);
    int closeListing();

    // Fetches `remoteName` of the current folder into `localPath`. The bytes go
    // to a temporary file beside the target, which replaces the target only
    // when the transfer completed with the size the server announced; on any
    // failure the old target is left as it was and the temporary file removed.
    int getFile(const std::filesystem::path& localPath, std::string_view remoteName);

    // A small remote file read as text: open fetches it (at most 1 MiB), read
    // hands out up to `count` characters at a time ("" at the end), close drops it.
    int openRemoteFile(std::string_view remoteName);
    int readCharacters(int count, std::string& text);
    int closeRemoteFile();

  private:
    struct Transfer;
    class Curl;
    int fail(FtpResult result, const std::string& description);
    int checkReady(bool needConnection);
    // Pumps one request to its end: 0 when libcurl reports success.
    int runTransfer(Transfer& transfer);
    // runTransfer, and on failure the component's result (`missing` when the
    // server refused the folder or file, `refused` when the data sink refused
    // the bytes), reported through fail.
    int request(Transfer& transfer, FtpResult missing, FtpResult refused);
    void afterFailure(const Transfer& transfer);
    std::string folderUrl(const std::string& folder, std::string_view file) const;
    void lostConnection();

    FtpClientObserver* m_observer;
    std::unique_ptr<Curl> m_curl;
    std::string m_baseUrl;
    std::string m_host;
    std::string m_user;
    std::string m_password;
    FtpTimeouts m_timeouts;
    bool m_connected = false;
    bool m_busy = false;
    int m_lastError = 0;
    bool m_trace = false;
    std::filesystem::path m_traceFile;
    std::string m_folder = "/";
    bool m_listingOpen = false;
    std::vector<RemoteEntry> m_listing;
    std::size_t m_listingNext = 0;
    bool m_remoteFileOpen = false;
    std::string m_remoteText;
    std::size_t m_remoteNext = 0;
};

}  // namespace tavrel::ftpclient
