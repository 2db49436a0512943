// Downloads into a file: the bytes go to a temporary file beside the target and
// replace the target only when the whole announced size arrived, so a cut or
// stalled transfer never leaves a half file under the target's name.
#include <cstdio>

#include "components/ftpclient/ftp_client.h"
#include "components/ftpclient/ftp_curl.h"
#include "platform/files.h"

namespace tavrel::ftpclient {
namespace {

// Closes the temporary file when a download ends early.
struct FileCloser {
    std::FILE* file = nullptr;
    ~FileCloser() {
        if (file) std::fclose(file);
    }
    // Flushes and closes; false when buffered bytes could not be written.
    bool close() {
        if (!file) return true;
        bool good = std::fflush(file) == 0 && !std::ferror(file);
        good = std::fclose(file) == 0 && good;
        file = nullptr;
        return good;
    }
};

std::filesystem::path temporaryPath(const std::filesystem::path& target) {
    std::string name(1, '~');
    name += target.filename().string();
    name += ".part";
    return target.parent_path() / name;
}

}  // namespace

int FtpClient::getFile(const std::filesystem::path& localPath, std::string_view remoteName) {
    if (int rc = checkReady(true)) return rc;
    if (isUnsafeEntryName(remoteName))
        return fail(FtpResult::kUnsafeName, "Unsafe remote file name");
    if (localPath.filename().empty())
        return fail(FtpResult::kLocalFileFailed, "No local file name");
    const std::filesystem::path target = platform::resolvePath(localPath);
    const std::filesystem::path temporary = temporaryPath(target);
    FileCloser out{std::fopen(temporary.c_str(), "wb")};
    if (!out.file) return fail(FtpResult::kLocalFileFailed, "Cannot write " + temporary.string());
    Transfer transfer;
    transfer.url = folderUrl(m_folder, remoteName);
    transfer.fileName = std::string(remoteName);
    transfer.sink = [&out](const char* data, std::size_t size) {
        return std::fwrite(data, 1, size, out.file) == size;
    };
    int rc = request(transfer, FtpResult::kFileMissing, FtpResult::kLocalFileFailed);
    bool written = out.close();
    if (rc == 0 && transfer.announced >= 0 &&
        std::uint64_t(transfer.announced) != transfer.received)
        rc = fail(FtpResult::kSizeMismatch, "The file arrived with " +
                                                std::to_string(transfer.received) + " of " +
                                                std::to_string(transfer.announced) + " bytes");
    if (rc == 0 && !written)
        rc = fail(FtpResult::kLocalFileFailed, "Cannot write " + temporary.string());
    if (rc == 0 && platform::moveFile(temporary, target) != 0)
        rc = fail(FtpResult::kLocalFileFailed, "Cannot replace " + target.string());
    if (rc != 0) platform::deleteFile(temporary);
    return rc;
}

}  // namespace tavrel::ftpclient
