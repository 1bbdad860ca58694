#include "base/Sha256.hpp"

#ifdef __APPLE__
#include <CommonCrypto/CommonDigest.h>
#else
#include <openssl/evp.h>
#endif

#include <algorithm>

namespace orlune::core {

std::array<unsigned char, 32> sha256(std::string_view bytes) {
    std::array<unsigned char, 32> digest{};
#ifdef __APPLE__
    // So that the Mac build needs no OpenSSL.
    CC_SHA256_CTX context;
    CC_SHA256_Init(&context);
    constexpr size_t kChunk = size_t{1} << 30; // CC_LONG is 32 bits
    for (size_t at = 0; at < bytes.size(); at += kChunk) {
        CC_SHA256_Update(&context, bytes.data() + at,
                         static_cast<CC_LONG>(std::min(kChunk, bytes.size() - at)));
    }
    CC_SHA256_Final(digest.data(), &context);
#else
    unsigned int length = 0;
    EVP_Digest(bytes.data(), bytes.size(), digest.data(), &length, EVP_sha256(), nullptr);
#endif
    return digest;
}

std::string sha256HexPrefix(std::string_view input, size_t bytes) {
    static constexpr char kHex[] = "0123456789abcdef";
    const std::array<unsigned char, 32> digest = sha256(input);
    std::string hex;
    for (size_t i = 0; i < std::min(bytes, digest.size()); ++i) {
        hex += kHex[digest[i] >> 4];
        hex += kHex[digest[i] & 0x0F];
    }
    return hex;
}

} // namespace orlune::core
