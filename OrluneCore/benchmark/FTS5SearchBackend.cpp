#include "benchmark/FTS5SearchBackend.hpp"

#ifdef __APPLE__
#include <CommonCrypto/CommonRandom.h>
#else
#include <openssl/rand.h>
#endif

#include <cstdio>
#include <filesystem>
#include <random>

namespace orlune::core {

namespace {

// A random (version 4) UUID in upper-case canonical form.
std::string randomUuid() {
    unsigned char bytes[16];
#ifdef __APPLE__
    const bool random = CCRandomGenerateBytes(bytes, sizeof bytes) == kCCSuccess;
#else
    const bool random = RAND_bytes(bytes, sizeof bytes) == 1;
#endif
    if (!random) {
        std::random_device device;
        for (auto& byte : bytes) {
            byte = static_cast<unsigned char>(device());
        }
    }
    bytes[6] = static_cast<unsigned char>((bytes[6] & 0x0F) | 0x40);
    bytes[8] = static_cast<unsigned char>((bytes[8] & 0x3F) | 0x80);
    char text[37];
    std::snprintf(text, sizeof text,
                  "%02X%02X%02X%02X-%02X%02X-%02X%02X-%02X%02X-%02X%02X%02X%02X%02X%02X", bytes[0],
                  bytes[1], bytes[2], bytes[3], bytes[4], bytes[5], bytes[6], bytes[7], bytes[8],
                  bytes[9], bytes[10], bytes[11], bytes[12], bytes[13], bytes[14], bytes[15]);
    return text;
}

std::string chooseDatabasePath(const std::optional<std::string>& databasePath) {
    if (databasePath) {
        return *databasePath;
    }
    std::error_code ignored;
    std::filesystem::path folder = std::filesystem::temp_directory_path(ignored);
    if (folder.empty()) {
        folder = "/tmp";
    }
    return (folder / ("bench-shadow-" + randomUuid() + ".db")).string();
}

} // namespace

FTS5SearchBackend::FTS5SearchBackend(const std::optional<std::string>& databasePath)
    : databasePath_(chooseDatabasePath(databasePath)) {
    shadowDB_ = std::make_unique<ShadowDB>(databasePath_);
    shadowDB_->createSchemaIfNeeded();
}

std::vector<std::string> FTS5SearchBackend::search(const std::string& query, int limit) {
    std::vector<std::string> guids;
    for (auto& result : shadowDB_->search(query, limit)) {
        guids.push_back(std::move(result.guid));
    }
    return guids;
}

void FTS5SearchBackend::ingest(const std::vector<ShadowMessage>& messages) {
    shadowDB_->insertBatch(messages);
}

void FTS5SearchBackend::reset() {
    shadowDB_->close();
    for (const char* suffix : {"", "-wal", "-shm"}) {
        std::error_code ignored;
        std::filesystem::remove(databasePath_ + suffix, ignored);
    }
    auto reopened = std::make_unique<ShadowDB>(databasePath_);
    shadowDB_ = std::move(reopened);
    shadowDB_->createSchemaIfNeeded();
}

} // namespace orlune::core
