// SHA-1 computed by OpenSSL, independent of KES01.DLL, for checking record
// checksums: the hexadecimal digest and the checksum's word order.
#pragma once

#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <cstddef>
#include <cstdio>
#include <string>
#include <string_view>

namespace tavrel::tables::testing {

// OpenSSL's digest of the bytes, as 40 hexadecimal digits in the order H0..H4.
inline std::string opensslHex(std::string_view bytes) {
    unsigned char md[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    EXPECT_EQ(EVP_Digest(bytes.data(), bytes.size(), md, &length, EVP_sha1(), nullptr), 1);
    std::string hex;
    char two[3];
    for (unsigned i = 0; i < length; ++i) {
        std::snprintf(two, sizeof two, "%02x", md[i]);
        hex += two;
    }
    return hex;
}

// The checksum layout computed independently: words H4, H2, H0, H3, H1.
inline std::string opensslChecksum(std::string_view bytes) {
    const std::string hex = opensslHex(bytes);
    std::string out;
    for (int word : {4, 2, 0, 3, 1}) out += hex.substr(std::size_t(word) * 8, 8);
    return out;
}

}  // namespace tavrel::tables::testing
