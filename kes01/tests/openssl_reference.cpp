#include "kes01/tests/openssl_reference.h"

#include <openssl/evp.h>

#include <cstdio>
#include <random>
#include <stdexcept>

namespace tavrel::kes01::testing {

namespace {

DigestWords wordsOf(const unsigned char* md) {
    DigestWords words{};
    for (int i = 0; i < 5; ++i) {
        words[i] = (uint32_t(md[4 * i]) << 24) | (uint32_t(md[4 * i + 1]) << 16) |
                   (uint32_t(md[4 * i + 2]) << 8) | uint32_t(md[4 * i + 3]);
    }
    return words;
}

}  // namespace

DigestWords opensslDigest(const void* data, size_t length) {
    OpensslSha1 sha1;
    sha1.update(data, length);
    return sha1.finish();
}

OpensslSha1::OpensslSha1() : m_context(EVP_MD_CTX_new()) {
    auto* ctx = static_cast<EVP_MD_CTX*>(m_context);
    if (ctx == nullptr || EVP_DigestInit_ex(ctx, EVP_sha1(), nullptr) != 1) {
        EVP_MD_CTX_free(ctx);
        throw std::runtime_error("OpenSSL SHA-1 init failed");
    }
}

OpensslSha1::~OpensslSha1() { EVP_MD_CTX_free(static_cast<EVP_MD_CTX*>(m_context)); }

void OpensslSha1::update(const void* data, size_t length) {
    if (EVP_DigestUpdate(static_cast<EVP_MD_CTX*>(m_context), data, length) != 1) {
        throw std::runtime_error("OpenSSL SHA-1 update failed");
    }
}

DigestWords OpensslSha1::finish() {
    unsigned char md[EVP_MAX_MD_SIZE];
    unsigned int mdLength = 0;
    if (EVP_DigestFinal_ex(static_cast<EVP_MD_CTX*>(m_context), md, &mdLength) != 1 ||
        mdLength != 20) {
        throw std::runtime_error("OpenSSL SHA-1 final failed");
    }
    return wordsOf(md);
}

std::string digestText(const DigestWords& words) {
    char text[64];
    std::snprintf(text, sizeof text, "%08x-%08x-%08x-%08x-%08x", unsigned(words[0]),
                  unsigned(words[1]), unsigned(words[2]), unsigned(words[3]), unsigned(words[4]));
    return text;
}

std::string randomBytes(size_t length, uint32_t seed) {
    std::mt19937 random(seed);
    std::string bytes(length, '\0');
    for (char& c : bytes) c = char(random() & 0xFF);
    return bytes;
}

}  // namespace tavrel::kes01::testing
