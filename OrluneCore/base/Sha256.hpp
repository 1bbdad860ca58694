#pragma once
// SHA-256 (FIPS 180-4): the system's CommonCrypto on macOS, OpenSSL's
// libcrypto elsewhere.

#include <array>
#include <string>
#include <string_view>

namespace orlune::core {

// The digest of `bytes`. Any thread; never throws.
std::array<unsigned char, 32> sha256(std::string_view bytes);

// The first `bytes` bytes (at most 32) of sha256(`input`) as lower-case hex.
std::string sha256HexPrefix(std::string_view input, size_t bytes);

} // namespace orlune::core
