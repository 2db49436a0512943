// Inside the FTP client: the libcurl handles of one session and the state of
// one exchange with the server. Not part of the component's interface.
#pragma once
#include <curl/curl.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>

#include "components/ftpclient/ftp_client.h"

namespace tavrel::ftpclient {

// One request: the URL names a folder (ending in "/") or a file.
struct FtpClient::Transfer {
    std::string url;
    bool noBody = false;      // only reach the folder (log in, CWD), move no data
    bool closeAfter = false;  // end the control connection (QUIT) when done
    std::string fileName;     // for progress notifications; empty: none
    // Receives the data; returning false ends the transfer as failed.
    std::function<bool(const char* data, std::size_t size)> sink;
    // Outcome.
    CURLcode result = CURLE_OK;
    bool stalled = false;
    bool sinkRefused = false;
    std::uint64_t received = 0;
    std::int64_t announced = -1;  // size the server announced, -1 when none
    long lastReply = 0;           // the last reply code of the server
};

// The easy handle (one per session, so libcurl keeps the control connection)
// inside a multi handle that this thread pumps.
class FtpClient::Curl {
  public:
    explicit Curl(FtpClient& owner);
    ~Curl();
    Curl(const Curl&) = delete;
    Curl& operator=(const Curl&) = delete;

    CURL* easy() const { return m_easy; }
    CURLM* multi() const { return m_multi; }
    bool valid() const { return m_easy && m_multi; }
    // Marks that a byte moved, in either direction, on either connection.
    void touch() { m_lastActivity = std::chrono::steady_clock::now(); }
    std::chrono::steady_clock::time_point lastActivity() const { return m_lastActivity; }

    void begin(Transfer& transfer);
    void end() { m_transfer = nullptr; }

  private:
    static int onDebug(CURL*, curl_infotype type, char* data, std::size_t size, void* self);
    static std::size_t onWrite(char* data, std::size_t one, std::size_t count, void* self);
    static int onProgress(void* self, curl_off_t downloadTotal, curl_off_t downloadNow, curl_off_t,
                          curl_off_t);
    void traceText(char direction, std::string_view text);
    void replyLine(std::string_view line);

    FtpClient& m_owner;
    CURL* m_easy = nullptr;
    CURLM* m_multi = nullptr;
    Transfer* m_transfer = nullptr;
    std::uint64_t m_reported = UINT64_MAX;
    int m_lastCode = 0;
    std::chrono::steady_clock::time_point m_lastActivity;
};

}  // namespace tavrel::ftpclient
