#pragma once
// What the crypto library keeps for each thread.

namespace orlune::core {

// Frees the state OpenSSL keeps for the calling thread (its error queue and
// random generator); the next call from that thread builds it again. A task
// on a pooled worker thread that used sha256() calls this before it ends:
// pooled threads are detached, so at process exit OpenSSL's own clean-up can
// run before the thread's, and the thread's state is then lost. Nothing to
// do on macOS, where the system's CommonCrypto keeps no such state. Any
// thread; never throws.
void releaseThreadCryptoState() noexcept;

} // namespace orlune::core
