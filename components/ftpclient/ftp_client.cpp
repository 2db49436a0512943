#include "components/ftpclient/ftp_client.h"

#include <cstdio>
#include <vector>

#include "components/ftpclient/ftp_curl.h"
#include "platform/clock.h"
#include "platform/files.h"
#include "platform/text_rules.h"

namespace tavrel::ftpclient {
namespace {

constexpr std::size_t kRemoteFileLimit = 1u << 20;
constexpr std::size_t kListingLimit = 64u << 20;

// "host" or "host:port"; a bare IPv6 address keeps its colons. False when the
// host is empty or the port is not 1..65535.
bool splitHost(std::string_view text, std::string& host, long& port) {
    text = platform::trimText(text);
    port = 21;
    std::size_t colon = text.rfind(':');
    bool oneColon = colon != std::string_view::npos && text.find(':') == colon;
    bool bracketed = !text.empty() && text[0] == '[';
    if (oneColon || (bracketed && colon != std::string_view::npos && text[colon - 1] == ']')) {
        std::string_view digits = text.substr(colon + 1);
        if (digits.empty() || digits.size() > 5) return false;
        port = 0;
        for (char c : digits) {
            if (!platform::isDigitAscii(c)) return false;
            port = port * 10 + (c - '0');
        }
        text = text.substr(0, colon);
    }
    host = std::string(text);
    if (!bracketed && host.find(':') != std::string::npos) host = "[" + host + "]";
    return !host.empty() && port >= 1 && port <= 65535;
}

bool hasControlCharacter(std::string_view text) {
    for (char c : text)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) return true;
    return false;
}

// The folder that `change` leads to from `current`; both absolute paths.
std::vector<std::string> resolveFolder(const std::vector<std::string>& current,
                                       std::string_view change) {
    std::vector<std::string> parts;
    if (change.empty() || change[0] != '/') parts = current;
    std::size_t start = 0;
    while (start <= change.size()) {
        std::size_t end = change.find('/', start);
        if (end == std::string_view::npos) end = change.size();
        std::string_view part = change.substr(start, end - start);
        if (part == "..") {
            if (!parts.empty()) parts.pop_back();
        } else if (!part.empty() && part != ".") {
            parts.emplace_back(part);
        }
        start = end + 1;
    }
    return parts;
}

std::vector<std::string> folderParts(const std::string& folder) {
    return resolveFolder({}, folder);
}

std::string folderText(const std::vector<std::string>& parts) {
    std::string text;
    for (const auto& part : parts) text += "/" + part;
    return text.empty() ? "/" : text;
}

platform::DateTime today() { return platform::SystemClock().now(); }

// The libcurl outcome of a failed request as a result of this component;
// `missing` is the result for a folder or file the server refused.
FtpResult resultOf(bool stalled, CURLcode outcome, FtpResult missing) {
    if (stalled) return FtpResult::kTimedOut;
    switch (outcome) {
        case CURLE_OPERATION_TIMEDOUT:
            return FtpResult::kTimedOut;
        case CURLE_COULDNT_RESOLVE_HOST:
        case CURLE_COULDNT_CONNECT:
            return FtpResult::kConnectFailed;
        case CURLE_LOGIN_DENIED:
            return FtpResult::kLoginRefused;
        case CURLE_REMOTE_ACCESS_DENIED:
        case CURLE_REMOTE_FILE_NOT_FOUND:
        case CURLE_FTP_COULDNT_RETR_FILE:
            return missing;
        case CURLE_PARTIAL_FILE:
        case CURLE_RECV_ERROR:
        case CURLE_SEND_ERROR:
        case CURLE_GOT_NOTHING:
            return FtpResult::kTransferFailed;
        default:
            return FtpResult::kProtocolError;
    }
}

}  // namespace

FtpClient::FtpClient(FtpClientObserver* observer) : m_observer(observer) {}

FtpClient::~FtpClient() = default;

int FtpClient::fail(FtpResult result, const std::string& description) {
    m_lastError = code(result);
    if (m_observer) m_observer->onError(m_lastError, description);
    return m_lastError;
}

int FtpClient::checkReady(bool needConnection) {
    if (m_busy) return fail(FtpResult::kBusy, "The FTP client is busy with a transfer");
    if (needConnection && !m_connected)
        return fail(FtpResult::kNotConnected, "Not connected to the FTP server");
    return 0;
}

void FtpClient::lostConnection() {
    m_curl.reset();
    if (!m_connected) return;
    m_connected = false;
    if (m_observer) m_observer->onDisconnected();
}

int FtpClient::connect() {
    if (int rc = checkReady(false)) return rc;
    if (m_connected) return 0;
    std::string host;
    long port = 21;
    if (!splitHost(m_host, host, port))
        return fail(FtpResult::kBadHost, "Bad host name '" + m_host + "'");
    m_curl = std::make_unique<Curl>(*this);
    if (!m_curl->valid()) {
        m_curl.reset();
        return fail(FtpResult::kProtocolError, "libcurl could not be started");
    }
    m_baseUrl = "ftp://" + host + ":" + std::to_string(port);
    Transfer transfer;
    transfer.url = m_baseUrl + "/";
    transfer.noBody = true;
    if (runTransfer(transfer) != 0) {
        m_curl.reset();
        FtpResult result = resultOf(transfer.stalled, transfer.result, FtpResult::kConnectFailed);
        return fail(result, curl_easy_strerror(transfer.result));
    }
    char* entryPath = nullptr;
    curl_easy_getinfo(m_curl->easy(), CURLINFO_FTP_ENTRY_PATH, &entryPath);
    m_folder = folderText(folderParts(entryPath ? entryPath : "/"));
    m_connected = true;
    if (m_observer) m_observer->onConnected();
    return 0;
}

int FtpClient::disconnect() {
    if (int rc = checkReady(false)) return rc;
    m_listingOpen = false;
    m_remoteFileOpen = false;
    if (m_connected && m_curl) {
        // A last request that may not keep its connection makes libcurl say
        // QUIT on this handle, so the goodbye shows in the trace too.
        Transfer transfer;
        transfer.url = folderUrl(m_folder, {});
        transfer.noBody = true;
        transfer.closeAfter = true;
        runTransfer(transfer);
    }
    lostConnection();
    return 0;
}

std::string FtpClient::folderUrl(const std::string& folder, std::string_view file) const {
    // "%2F" makes the path absolute; each part is escaped so that blanks,
    // '#' and '%' in names reach the server as they are.
    std::string url = m_baseUrl + "/%2F";
    std::vector<std::string> parts = folderParts(folder);
    for (std::size_t i = 0; i < parts.size(); ++i) {
        char* escaped = curl_easy_escape(m_curl->easy(), parts[i].c_str(), int(parts[i].size()));
        if (i) url += '/';
        url += escaped ? escaped : "";
        curl_free(escaped);
    }
    if (file.empty()) return url + "/";
    if (!parts.empty()) url += "/";
    char* escaped = curl_easy_escape(m_curl->easy(), file.data(), int(file.size()));
    url += escaped ? escaped : "";
    curl_free(escaped);
    return url;
}

// After a failed request: a time-out or a broken control connection ends the session.
void FtpClient::afterFailure(const Transfer& transfer) {
    bool gone = transfer.stalled;
    switch (transfer.result) {
        case CURLE_OPERATION_TIMEDOUT:
        case CURLE_RECV_ERROR:
        case CURLE_SEND_ERROR:
        case CURLE_GOT_NOTHING:
        case CURLE_COULDNT_CONNECT:
        case CURLE_FTP_WEIRD_SERVER_REPLY:
            gone = true;
            break;
        default:
            break;
    }
    if (gone) lostConnection();
}

int FtpClient::request(Transfer& transfer, FtpResult missing, FtpResult refused) {
    if (runTransfer(transfer) == 0) return 0;
    FtpResult result = resultOf(transfer.stalled, transfer.result, missing);
    if (transfer.sinkRefused) result = refused;
    std::string description = curl_easy_strerror(transfer.result);
    afterFailure(transfer);
    return fail(result, description);
}

int FtpClient::changeFolder(std::string_view folder) {
    if (int rc = checkReady(true)) return rc;
    if (hasControlCharacter(folder))
        return fail(FtpResult::kUnsafeName, "Folder name with a control character");
    std::string target = folderText(resolveFolder(folderParts(m_folder), folder));
    Transfer transfer;
    transfer.url = folderUrl(target, {});
    transfer.noBody = true;
    if (int rc = request(transfer, FtpResult::kFolderMissing, FtpResult::kProtocolError)) return rc;
    m_folder = target;
    return 0;
}

int FtpClient::openListing() {
    if (int rc = checkReady(true)) return rc;
    m_listingOpen = false;
    m_listing.clear();
    m_listingNext = 0;
    std::string text;
    Transfer transfer;
    transfer.url = folderUrl(m_folder, {});
    transfer.sink = [&text](const char* data, std::size_t size) {
        if (text.size() + size > kListingLimit) return false;
        text.append(data, size);
        return true;
    };
    if (int rc = request(transfer, FtpResult::kFolderMissing, FtpResult::kRemoteFileTooLarge))
        return rc;
    platform::DateTime now = today();
    m_listing = parseListing(text, ListingToday{now.year, now.month, now.day});
    m_listingOpen = true;
    if (m_observer)
        for (const RemoteEntry& entry : m_listing) m_observer->onDirectoryEntry(entry);
    return 0;
}

int FtpClient::readNextEntry(RemoteEntry& entry) {
    if (!m_listingOpen) return fail(FtpResult::kNoListingOpen, "No listing is open");
    if (m_listingNext >= m_listing.size()) return fail(FtpResult::kEndOfListing, "No more files");
    entry = m_listing[m_listingNext++];
    return 0;
}

int FtpClient::closeListing() {
    m_listingOpen = false;
    m_listing.clear();
    m_listingNext = 0;
    return 0;
}

int FtpClient::openRemoteFile(std::string_view remoteName) {
    if (int rc = checkReady(true)) return rc;
    if (isUnsafeEntryName(remoteName))
        return fail(FtpResult::kUnsafeName, "Unsafe remote file name");
    m_remoteFileOpen = false;
    m_remoteText.clear();
    m_remoteNext = 0;
    std::string text;
    Transfer transfer;
    transfer.url = folderUrl(m_folder, remoteName);
    transfer.sink = [&text](const char* data, std::size_t size) {
        if (text.size() + size > kRemoteFileLimit) return false;
        text.append(data, size);
        return true;
    };
    if (int rc = request(transfer, FtpResult::kFileMissing, FtpResult::kRemoteFileTooLarge))
        return rc;
    if (transfer.announced >= 0 && std::uint64_t(transfer.announced) != text.size())
        return fail(FtpResult::kSizeMismatch, "The file arrived shorter than announced");
    m_remoteText = std::move(text);
    m_remoteFileOpen = true;
    return 0;
}

int FtpClient::readCharacters(int count, std::string& text) {
    if (!m_remoteFileOpen) return fail(FtpResult::kNoRemoteFileOpen, "No remote file is open");
    std::size_t take = count > 0 ? std::size_t(count) : 0;
    text = m_remoteText.substr(std::min(m_remoteNext, m_remoteText.size()), take);
    m_remoteNext += text.size();
    return 0;
}

int FtpClient::closeRemoteFile() {
    m_remoteFileOpen = false;
    m_remoteText.clear();
    m_remoteNext = 0;
    return 0;
}

}  // namespace tavrel::ftpclient
