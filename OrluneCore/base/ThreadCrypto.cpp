#include "base/ThreadCrypto.hpp"

#ifndef __APPLE__
#include <openssl/crypto.h>
#endif

namespace orlune::core {

void releaseThreadCryptoState() noexcept {
#ifndef __APPLE__
    OPENSSL_thread_stop();
#endif
}

} // namespace orlune::core
