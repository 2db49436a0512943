// OpenSSL's SHA-1 as the independent reference of the tests.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace tavrel::kes01::testing {

using DigestWords = std::array<uint32_t, 5>;

// OpenSSL's SHA-1 of the bytes, as the five words H0..H4.
DigestWords opensslDigest(const void* data, size_t length);
inline DigestWords opensslDigest(std::string_view text) {
    return opensslDigest(text.data(), text.size());
}

// OpenSSL's SHA-1 fed piece by piece. Throws when OpenSSL fails.
class OpensslSha1 {
  public:
    OpensslSha1();
    ~OpensslSha1();
    OpensslSha1(const OpensslSha1&) = delete;
    OpensslSha1& operator=(const OpensslSha1&) = delete;

    void update(const void* data, size_t length);
    DigestWords finish();

  private:
    void* m_context;
};

// The words as KES01's digest text: "%08x-%08x-%08x-%08x-%08x".
std::string digestText(const DigestWords& words);

// Reproducible pseudo-random bytes.
std::string randomBytes(size_t length, uint32_t seed);

}  // namespace tavrel::kes01::testing
