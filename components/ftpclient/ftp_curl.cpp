#include "components/ftpclient/ftp_curl.h"

#include <algorithm>

#include "components/ftpclient/ftp_trace.h"
#include "platform/text_rules.h"

namespace tavrel::ftpclient {
namespace {

// Each line of a block that libcurl hands over, without its line end.
template <typename Each>
void forEachLine(std::string_view block, Each each) {
    std::size_t start = 0;
    while (start < block.size()) {
        std::size_t end = block.find('\n', start);
        if (end == std::string_view::npos) end = block.size();
        std::string_view line = block.substr(start, end - start);
        while (!line.empty() && (line.back() == '\r' || line.back() == '\n')) line.remove_suffix(1);
        if (!line.empty()) each(line);
        start = end + 1;
    }
}

}  // namespace

FtpClient::Curl::Curl(FtpClient& owner) : m_owner(owner) {
    m_easy = curl_easy_init();
    m_multi = curl_multi_init();
    if (!valid()) return;
    curl_easy_setopt(m_easy, CURLOPT_VERBOSE, 1L);
    curl_easy_setopt(m_easy, CURLOPT_DEBUGFUNCTION, &Curl::onDebug);
    curl_easy_setopt(m_easy, CURLOPT_DEBUGDATA, this);
    curl_easy_setopt(m_easy, CURLOPT_WRITEFUNCTION, &Curl::onWrite);
    curl_easy_setopt(m_easy, CURLOPT_WRITEDATA, this);
    curl_easy_setopt(m_easy, CURLOPT_XFERINFOFUNCTION, &Curl::onProgress);
    curl_easy_setopt(m_easy, CURLOPT_XFERINFODATA, this);
    curl_easy_setopt(m_easy, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(m_easy, CURLOPT_NOSIGNAL, 1L);
    // One CWD to an absolute folder, so the server's idea of the current
    // folder never depends on what an earlier request left behind.
    curl_easy_setopt(m_easy, CURLOPT_FTP_FILEMETHOD, long(CURLFTPMETHOD_SINGLECWD));
    curl_easy_setopt(m_easy, CURLOPT_PROTOCOLS_STR, "ftp");
    curl_easy_setopt(m_easy, CURLOPT_FTP_USE_EPSV, 1L);
}

FtpClient::Curl::~Curl() {
    // The multi handle holds the connection; cleaning it up says QUIT.
    if (m_multi) curl_multi_cleanup(m_multi);
    if (m_easy) curl_easy_cleanup(m_easy);
}

void FtpClient::Curl::begin(Transfer& transfer) {
    m_transfer = &transfer;
    m_reported = UINT64_MAX;
    curl_easy_setopt(m_easy, CURLOPT_URL, transfer.url.c_str());
    curl_easy_setopt(m_easy, CURLOPT_NOBODY, transfer.noBody ? 1L : 0L);
    curl_easy_setopt(m_easy, CURLOPT_FORBID_REUSE, transfer.closeAfter ? 1L : 0L);
    curl_easy_setopt(m_easy, CURLOPT_USERNAME, m_owner.m_user.c_str());
    curl_easy_setopt(m_easy, CURLOPT_PASSWORD, m_owner.m_password.c_str());
    curl_easy_setopt(m_easy, CURLOPT_CONNECTTIMEOUT_MS, long(m_owner.m_timeouts.connect.count()));
    touch();
}

void FtpClient::Curl::traceText(char direction, std::string_view text) {
    if (!m_owner.m_trace) return;
    static const platform::SystemClock clock;
    std::string shown = direction == '>' ? maskedCommand(text) : std::string(text);
    appendTraceLine(m_owner.m_traceFile, traceLine(clock.now(), direction, shown));
}

void FtpClient::Curl::replyLine(std::string_view line) {
    int code = m_lastCode;
    std::string_view text = line;
    if (line.size() >= 3 && platform::isDigitAscii(line[0]) && platform::isDigitAscii(line[1]) &&
        platform::isDigitAscii(line[2])) {
        code = (line[0] - '0') * 100 + (line[1] - '0') * 10 + (line[2] - '0');
        text = line.size() > 4 ? line.substr(4) : std::string_view{};
        m_lastCode = code;
        if (m_transfer) m_transfer->lastReply = code;
    }
    if (m_owner.m_observer) m_owner.m_observer->onCommandReply(code, std::string(text));
}

int FtpClient::Curl::onDebug(CURL*, curl_infotype type, char* data, std::size_t size, void* self) {
    auto* curl = static_cast<Curl*>(self);
    curl->touch();
    std::string_view block(data, size);
    switch (type) {
        case CURLINFO_HEADER_IN:
            forEachLine(block, [&](std::string_view line) {
                curl->traceText('<', line);
                curl->replyLine(line);
            });
            break;
        case CURLINFO_HEADER_OUT:
            forEachLine(block, [&](std::string_view line) { curl->traceText('>', line); });
            break;
        case CURLINFO_TEXT:
            forEachLine(block, [&](std::string_view line) { curl->traceText('*', line); });
            break;
        default:
            break;
    }
    return 0;
}

std::size_t FtpClient::Curl::onWrite(char* data, std::size_t one, std::size_t count, void* self) {
    auto* curl = static_cast<Curl*>(self);
    std::size_t size = one * count;
    curl->touch();
    Transfer* transfer = curl->m_transfer;
    if (!transfer) return 0;
    transfer->received += size;
    if (transfer->sink && !transfer->sink(data, size)) {
        transfer->sinkRefused = true;
        return 0;
    }
    return size;
}

int FtpClient::Curl::onProgress(void* self, curl_off_t downloadTotal, curl_off_t downloadNow,
                                curl_off_t, curl_off_t) {
    auto* curl = static_cast<Curl*>(self);
    Transfer* transfer = curl->m_transfer;
    if (!transfer || transfer->fileName.empty() || !curl->m_owner.m_observer) return 0;
    auto done = std::uint64_t(std::max<curl_off_t>(downloadNow, 0));
    if (done == curl->m_reported) return 0;
    curl->m_reported = done;
    auto total = std::uint64_t(std::max<curl_off_t>(downloadTotal, 0));
    int percent = total ? int(std::min<std::uint64_t>(done * 100 / total, 100)) : 0;
    curl->m_owner.m_observer->onTransferProgress(transfer->fileName, total, done, percent);
    return 0;
}

int FtpClient::runTransfer(Transfer& transfer) {
    CURL* easy = m_curl->easy();
    CURLM* multi = m_curl->multi();
    m_busy = true;
    m_curl->begin(transfer);
    auto limit = m_connected ? m_timeouts.stall : std::max(m_timeouts.connect, m_timeouts.stall);
    bool done = curl_multi_add_handle(multi, easy) != CURLM_OK;
    if (done) transfer.result = CURLE_FAILED_INIT;
    while (!done) {
        int running = 0;
        if (curl_multi_perform(multi, &running) != CURLM_OK) {
            transfer.result = CURLE_FAILED_INIT;
            break;
        }
        int left = 0;
        while (CURLMsg* message = curl_multi_info_read(multi, &left)) {
            if (message->msg == CURLMSG_DONE && message->easy_handle == easy) {
                transfer.result = message->data.result;
                done = true;
            }
        }
        if (done || running == 0) break;
        if (std::chrono::steady_clock::now() - m_curl->lastActivity() > limit) {
            transfer.stalled = true;
            transfer.result = CURLE_OPERATION_TIMEDOUT;
            break;
        }
        curl_multi_poll(multi, nullptr, 0, 100, nullptr);
    }
    curl_off_t announced = -1;
    if (curl_easy_getinfo(easy, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &announced) == CURLE_OK)
        transfer.announced = announced;
    // Taking the handle out mid-transfer makes libcurl drop that connection.
    curl_multi_remove_handle(multi, easy);
    m_curl->end();
    m_busy = false;
    return transfer.result == CURLE_OK && !transfer.stalled ? 0 : 1;
}

}  // namespace tavrel::ftpclient
