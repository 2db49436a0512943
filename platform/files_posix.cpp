#include <dirent.h>
#include <fcntl.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <system_error>

#include "platform/file_faults.h"
#include "platform/files.h"

namespace tavrel::platform {
namespace {

int errorOf(const std::error_code& ec) { return ec ? (ec.value() ? ec.value() : EIO) : 0; }

// The entry of `folder` whose name equals `name` without regard to case.
std::optional<fs::path> findInFolder(const fs::path& folder, const std::string& name) {
    std::error_code ec;
    const fs::path exact = folder / name;
    if (fs::symlink_status(exact, ec).type() != fs::file_type::not_found && !ec) return exact;
    // The names are compared as the directory gives them, without making a
    // path of each: folders of thousands of files are read this way often.
    DIR* dir = ::opendir(folder.empty() ? "." : folder.c_str());
    if (dir == nullptr) return std::nullopt;
    std::optional<std::string> found;
    while (const dirent* entry = ::readdir(dir)) {
        if (strcasecmp(entry->d_name, name.c_str()) != 0) continue;
        // Several entries may match; take the first in name order so the
        // choice does not depend on the directory's internal order.
        if (!found || std::strcmp(entry->d_name, found->c_str()) < 0) found = entry->d_name;
    }
    ::closedir(dir);
    if (!found) return std::nullopt;
    return folder / *found;
}

int writeAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        ssize_t n = ::write(fd, bytes.data(), bytes.size());
        if (n < 0) {
            if (errno == EINTR) continue;
            return errno;
        }
        bytes.remove_prefix(size_t(n));
    }
    return 0;
}

}  // namespace

std::optional<fs::path> findPath(const fs::path& path) {
    std::error_code ec;
    if (fs::symlink_status(path, ec).type() != fs::file_type::not_found && !ec) return path;
    fs::path current = path.is_absolute() ? path.root_path() : fs::path();
    for (const fs::path& part : path.relative_path()) {
        const std::string name = part.string();
        if (name.empty() || name == "." || name == "..") {
            current /= part;
            continue;
        }
        auto next = findInFolder(current, name);
        if (!next) return std::nullopt;
        current = *next;
    }
    return current;
}

fs::path resolvePath(const fs::path& path) {
    if (auto found = findPath(path)) return *found;
    fs::path parent = path.parent_path();
    if (parent.empty()) return path;
    if (auto folder = findPath(parent)) return *folder / path.filename();
    return path;
}

bool fileExists(const fs::path& path) {
    auto found = findPath(path);
    std::error_code ec;
    return found && fs::is_regular_file(*found, ec);
}

bool folderExists(const fs::path& path) {
    auto found = findPath(path);
    std::error_code ec;
    return found && fs::is_directory(*found, ec);
}

std::optional<uint64_t> fileSize(const fs::path& path) {
    auto found = findPath(path);
    if (!found) return std::nullopt;
    std::error_code ec;
    auto size = fs::file_size(*found, ec);
    if (ec) return std::nullopt;
    return size;
}

int ensureFolder(const fs::path& path) {
    if (folderExists(path)) return 0;
    if (int rc = injectedFault(FileOperation::kMakeFolder, path)) return rc;
    std::error_code ec;
    fs::create_directories(resolvePath(path), ec);
    if (ec) return errorOf(ec);
    return folderExists(path) ? 0 : ENOTDIR;
}

namespace {

// The copy itself, which a move across file systems uses without asking the
// fault hook a second time.
int copyExisting(const fs::path& from, const fs::path& to, bool overwrite) {
    auto source = findPath(from);
    if (!source) return ENOENT;
    const fs::path target = resolvePath(to);
    std::error_code ec;
    if (!overwrite && fs::exists(target, ec)) return EEXIST;
    auto options = overwrite ? fs::copy_options::overwrite_existing : fs::copy_options::none;
    fs::copy_file(*source, target, options, ec);
    return errorOf(ec);
}

}  // namespace

int copyFile(const fs::path& from, const fs::path& to, bool overwrite) {
    if (int rc = injectedFault(FileOperation::kCopy, from, &to)) return rc;
    return copyExisting(from, to, overwrite);
}

int moveFile(const fs::path& from, const fs::path& to) {
    if (int rc = injectedFault(FileOperation::kMove, from, &to)) return rc;
    auto source = findPath(from);
    if (!source) return ENOENT;
    const fs::path target = resolvePath(to);
    if (::rename(source->c_str(), target.c_str()) == 0) return 0;
    if (errno != EXDEV) return errno;
    if (int rc = copyExisting(*source, target, true)) return rc;
    return ::unlink(source->c_str()) == 0 ? 0 : errno;
}

int deleteFile(const fs::path& path) {
    if (int rc = injectedFault(FileOperation::kDelete, path)) return rc;
    auto found = findPath(path);
    if (!found) return ENOENT;
    return ::unlink(found->c_str()) == 0 ? 0 : errno;
}

int deleteFolderTree(const fs::path& path) {
    auto found = findPath(path);
    if (!found) return ENOENT;
    std::error_code ec;
    fs::remove_all(*found, ec);
    return errorOf(ec);
}

int makeWritable(const fs::path& path) {
    auto found = findPath(path);
    if (!found) return ENOENT;
    std::error_code ec;
    fs::permissions(*found, fs::perms::owner_read | fs::perms::owner_write, fs::perm_options::add,
                    ec);
    return errorOf(ec);
}

int makeReadOnly(const fs::path& path) {
    auto found = findPath(path);
    if (!found) return ENOENT;
    std::error_code ec;
    fs::permissions(*found,
                    fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                    fs::perm_options::remove, ec);
    return errorOf(ec);
}

bool isWritable(const fs::path& path) {
    auto found = findPath(path);
    if (!found) return false;
    std::error_code ec;
    auto st = fs::status(*found, ec);
    return !ec && (st.permissions() & fs::perms::owner_write) != fs::perms::none;
}

namespace {
std::vector<std::string> listEntries(const fs::path& folder, bool folders) {
    std::vector<std::string> names;
    auto found = findPath(folder);
    if (!found) return names;
    std::error_code ec;
    fs::directory_iterator it(*found, ec);
    for (; !ec && it != fs::directory_iterator(); it.increment(ec)) {
        std::error_code typeError;
        bool isFolder = it->is_directory(typeError);
        bool isFile = it->is_regular_file(typeError);
        if ((folders && isFolder) || (!folders && isFile)) {
            names.push_back(it->path().filename().string());
        }
    }
    std::sort(names.begin(), names.end());
    return names;
}
}  // namespace

std::vector<std::string> listFiles(const fs::path& folder) { return listEntries(folder, false); }
std::vector<std::string> listFolders(const fs::path& folder) { return listEntries(folder, true); }

std::optional<std::string> readFile(const fs::path& path, int* error) {
    auto fail = [error](int e) -> std::optional<std::string> {
        if (error) *error = e;
        return std::nullopt;
    };
    auto found = findPath(path);
    if (!found) return fail(ENOENT);
    int fd = ::open(found->c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return fail(errno);
    std::string content;
    char buffer[65536];
    for (;;) {
        ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0) {
            if (errno == EINTR) continue;
            int e = errno;
            ::close(fd);
            return fail(e);
        }
        if (n == 0) break;
        content.append(buffer, size_t(n));
    }
    ::close(fd);
    if (error) *error = 0;
    return content;
}

namespace {

// Links followed before a chain counts as a loop (the usual SYMLOOP_MAX).
constexpr int kMaxLinks = 40;

// The file a write of `path` must replace: `path` itself, or the end of its
// chain of symbolic links, so that a rename leaves the links as they are.
int linkTarget(fs::path path, fs::path* target) {
    for (int hops = 0; hops <= kMaxLinks; ++hops) {
        std::error_code ec;
        if (!fs::is_symlink(fs::symlink_status(path, ec))) {
            *target = path;
            return 0;
        }
        const fs::path next = fs::read_symlink(path, ec);
        if (ec) return errorOf(ec);
        path = next.is_absolute() ? next : path.parent_path() / next;
    }
    return ELOOP;
}

}  // namespace

int writeFileAtomic(const fs::path& path, std::string_view content) {
    if (int rc = injectedFault(FileOperation::kWriteFile, path)) return rc;
    fs::path target;
    if (const int rc = linkTarget(resolvePath(path), &target); rc != 0) return rc;
    // A rename would go round the file's read-only mark; honour it, as an open
    // for writing does.
    struct stat st {};
    const bool exists = ::stat(target.c_str(), &st) == 0;
    if (exists && (st.st_mode & S_IWUSR) == 0) return EACCES;
    fs::path temp = target;
    temp += ".tmp-" + std::to_string(::getpid());
    int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) return errno;
    int rc = writeAll(fd, content);
    if (rc == 0 && ::fsync(fd) != 0) rc = errno;
    // Keep the permissions of the file being replaced.
    if (rc == 0 && exists) ::fchmod(fd, st.st_mode & 07777);
    if (::close(fd) != 0 && rc == 0) rc = errno;
    if (rc == 0) rc = injectedFault(FileOperation::kReplace, path);
    if (rc == 0 && ::rename(temp.c_str(), target.c_str()) != 0) rc = errno;
    if (rc != 0) ::unlink(temp.c_str());
    return rc;
}

int overwriteFileStart(const fs::path& path, std::string_view bytes) {
    const fs::path target = resolvePath(path);
    int fd = ::open(target.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) return errno;
    int rc = writeAll(fd, bytes);
    if (::close(fd) != 0 && rc == 0) rc = errno;
    return rc;
}

std::string joinPath(std::string_view folder, std::string_view name) {
    if (folder.empty()) return std::string(name);
    std::string out(folder);
    while (!name.empty() && name.front() == kPathSeparator) name.remove_prefix(1);
    if (out.back() != kPathSeparator) out += kPathSeparator;
    out += name;
    return out;
}

std::string withTrailingSeparator(std::string_view folder) {
    std::string out(folder);
    // An empty folder stays empty: it must not turn into the root folder.
    if (!out.empty() && out.back() != kPathSeparator) out += kPathSeparator;
    return out;
}

std::string errorText(int error) { return std::strerror(error); }

}  // namespace tavrel::platform
