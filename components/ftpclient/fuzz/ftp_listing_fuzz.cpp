// Feeds arbitrary bytes to the LIST reply parser: it must never crash, hang or
// hand out an entry whose fields break their own rules.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "components/ftpclient/ftp_listing.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace tavrel::ftpclient;
    std::string_view text(reinterpret_cast<const char*>(data), size);
    int malformed = 0;
    auto entries = parseListing(text, ListingToday{2026, 2, 29}, &malformed);
    for (const RemoteEntry& entry : entries) {
        if (entry.name.empty() || entry.name.size() > size) std::abort();
        if (entry.date.size() != 10 || entry.time.size() != 5) std::abort();
        if (entry.name.find('\n') != std::string::npos) std::abort();
        (void)entry.isUnsafe();
    }
    if (malformed < 0) std::abort();
    return 0;
}
