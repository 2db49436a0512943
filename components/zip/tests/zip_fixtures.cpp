#include "components/zip/tests/zip_fixtures.h"

#include <sys/stat.h>
#include <sys/time.h>
#include <zlib.h>

#include <algorithm>
#include <cstdlib>

namespace tavrel::zip::test {
namespace {

void put16(std::string& out, uint32_t v) {
    out += char(v & 0xFF);
    out += char((v >> 8) & 0xFF);
}

void put32(std::string& out, uint32_t v) {
    put16(out, v & 0xFFFF);
    put16(out, v >> 16);
}

std::string rawDeflate(const std::string& data) {
    z_stream zs{};
    deflateInit2(&zs, Z_BEST_COMPRESSION, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY);
    std::string out(compressBound(uLong(data.size())) + 64, '\0');
    zs.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
    zs.avail_in = uInt(data.size());
    zs.next_out = reinterpret_cast<Bytef*>(out.data());
    zs.avail_out = uInt(out.size());
    deflate(&zs, Z_FINISH);
    out.resize(zs.total_out);
    deflateEnd(&zs);
    return out;
}

}  // namespace

fs::path Sandbox::write(const std::string& relative, const std::string& content) const {
    const fs::path p = root() / relative;
    fs::create_directories(p.parent_path());
    platform::testing::writeBytes(p, content);
    return p;
}

std::vector<std::string> filesBelow(const fs::path& folder) {
    std::vector<std::string> out;
    for (auto it = fs::recursive_directory_iterator(folder); it != fs::end(it); ++it) {
        if (!it->is_directory() || it->is_symlink())
            out.push_back(fs::relative(it->path(), folder).string());
    }
    std::sort(out.begin(), out.end());
    return out;
}

int runIn(const fs::path& folder, const std::string& command) {
    const std::string line = "cd '" + folder.string() + "' && ( " + command + " ) >/dev/null 2>&1";
    return std::system(line.c_str());
}

void setTime(const fs::path& path, int64_t seconds) {
    struct timeval times[2]{};
    times[0].tv_sec = time_t(seconds);
    times[1].tv_sec = time_t(seconds);
    utimes(path.c_str(), times);
}

int64_t timeOf(const fs::path& path) {
    struct stat st {};
    if (stat(path.c_str(), &st) != 0) return -1;
    return int64_t(st.st_mtime);
}

std::string makeArchive(const std::vector<RawEntry>& entries) {
    std::string out, central;
    const uint32_t dosTime = (10u << 11) | (30u << 5);                  // 10:30:00
    const uint32_t dosDate = ((2020u - 1980u) << 9) | (6u << 5) | 15u;  // 2020-06-15
    for (const RawEntry& e : entries) {
        const std::string body = e.deflate ? rawDeflate(e.data) : e.data;
        const uint32_t crc = e.crc
                                 ? *e.crc
                                 : uint32_t(crc32(0, reinterpret_cast<const Bytef*>(e.data.data()),
                                                  uInt(e.data.size())));
        const uint32_t size = e.declaredSize ? *e.declaredSize : uint32_t(e.data.size());
        const uint32_t offset = uint32_t(out.size());
        auto common = [&](std::string& h) {
            put16(h, 20);                 // version needed
            put16(h, 0);                  // flags
            put16(h, e.deflate ? 8 : 0);  // method
            put16(h, dosTime);
            put16(h, dosDate);
            put32(h, crc);
            put32(h, uint32_t(body.size()));
            put32(h, size);
            put16(h, uint32_t(e.name.size()));
            put16(h, 0);  // extra length
        };
        put32(out, 0x04034b50);
        common(out);
        out += e.name;
        out += body;
        put32(central, 0x02014b50);
        put16(central, (uint32_t(e.madeBySystem) << 8) | 20);
        common(central);
        put16(central, 0);  // comment length
        put16(central, 0);  // disk
        put16(central, 0);  // internal attributes
        put32(central, e.externalAttributes);
        put32(central, offset);
        central += e.name;
    }
    const uint32_t centralOffset = uint32_t(out.size());
    out += central;
    put32(out, 0x06054b50);
    put16(out, 0);
    put16(out, 0);
    put16(out, uint32_t(entries.size()));
    put16(out, uint32_t(entries.size()));
    put32(out, uint32_t(central.size()));
    put32(out, centralOffset);
    put16(out, 0);
    return out;
}

}  // namespace tavrel::zip::test
