// orlune-rlm-helper: answers one question about the shadow database. Reads
// one request document on standard input until end of file, writes exactly
// one response object on standard output and diagnostics on standard error.
// Exits 0 when it wrote a response, 1 otherwise.

#include "base/Environment.hpp"
#include "helper/HelperProgram.hpp"
#include "sql/QueryBounds.hpp"

#include <csignal>
#include <cstdio>
#include <curl/curl.h>
#include <iostream>
#include <iterator>
#include <sqlite3.h>
#include <string>

int main() {
    std::signal(SIGPIPE, SIG_IGN);
    // The helper only reads the shadow database: whatever the model's SQL
    // asks for, SQLite holds no more than this.
    sqlite3_hard_heap_limit64(orlune::core::QueryBounds::kReaderHeapLimit);
    std::ios::sync_with_stdio(false);
    if (curl_global_init(CURL_GLOBAL_DEFAULT) != CURLE_OK) {
        std::cerr << "orlune-rlm-helper: the HTTP client could not start\n";
        return 1;
    }

    // A request is a few kilobytes; anything past the cap is read and dropped,
    // so that the writer never blocks, and the request is refused.
    constexpr size_t kMaxRequestBytes = 16 * 1024 * 1024;
    std::string request;
    bool tooLarge = false;
    char buffer[65536];
    while (std::cin.read(buffer, sizeof buffer) || std::cin.gcount() > 0) {
        size_t count = static_cast<size_t>(std::cin.gcount());
        if (request.size() + count > kMaxRequestBytes) {
            tooLarge = true;
        } else {
            request.append(buffer, count);
        }
    }
    if (std::cin.bad()) {
        std::cerr << "orlune-rlm-helper: could not read the request from standard input\n";
        curl_global_cleanup();
        return 1;
    }

    nlohmann::json response =
        tooLarge ? nlohmann::json{{"error",
                                   {{"type", "invalid_request"},
                                    {"message", "The request is larger than 16 MB."}}}}
                 : orlune::helper::HelperProgram::respond(
                       request, orlune::core::Environment::process(), std::cerr);
    std::string output =
        response.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
    curl_global_cleanup();

    if (std::fwrite(output.data(), 1, output.size(), stdout) != output.size() ||
        std::fflush(stdout) != 0) {
        std::cerr << "orlune-rlm-helper: could not write the response\n";
        return 1;
    }
    return 0;
}
