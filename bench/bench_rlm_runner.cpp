// Round-trip cost of one question: RLMHelperRunner::run against a bare
// posix_spawn + pipe exchange with the same helper, in the same run.
//
// Usage: bench_rlm_runner [RUNS]   (default 60 runs of each, after warm-up)

#include "base/SystemDifferences.hpp"
#include "services/RLMHelperRunner.hpp"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <spawn.h>
#include <stdexcept>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;
using orlune::rlm::RLMHelperRunner;

// The same exchange the runner makes, with nothing around it: spawn, write
// the request, close, read the answer to end of file, wait.
std::string directExchange(const std::string& helper, const std::string& request) {
    int in[2], out[2];
    if (orlune::core::openCloseOnExecPipe(in) != 0 || orlune::core::openCloseOnExecPipe(out) != 0) {
        throw std::runtime_error("pipe");
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in[0], 0);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    char* argv[] = {const_cast<char*>(helper.c_str()), nullptr};
    pid_t pid;
    if (posix_spawn(&pid, helper.c_str(), &actions, nullptr, argv, environ) != 0) {
        throw std::runtime_error("spawn");
    }
    posix_spawn_file_actions_destroy(&actions);
    close(in[0]);
    close(out[1]);
    if (write(in[1], request.data(), request.size()) != static_cast<ssize_t>(request.size())) {
        throw std::runtime_error("write");
    }
    close(in[1]);
    std::string answer;
    char buffer[4096];
    ssize_t count;
    while ((count = read(out[0], buffer, sizeof buffer)) > 0) {
        answer.append(buffer, static_cast<size_t>(count));
    }
    close(out[0]);
    int status;
    waitpid(pid, &status, 0);
    return answer;
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const size_t middle = values.size() / 2;
    return values.size() % 2 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

} // namespace

int main(int argc, char** argv) {
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 60;

    char pattern[] = "/tmp/orlune-bench-XXXXXX";
    if (mkdtemp(pattern) == nullptr) {
        std::perror("mkdtemp");
        return 1;
    }
    const std::filesystem::path folder = pattern;
    std::filesystem::create_directories(folder / "rlm");
    const std::string helper = (folder / "rlm" / "orlune-rlm-helper").string();
    std::ofstream(helper)
        << "#!/bin/sh\ncat >/dev/null\nprintf '%s' '{\"answer\":\"Saturday.\"}'\n";
    chmod(helper.c_str(), 0755);
    const std::string db = (folder / "shadow.db").string();
    std::ofstream(db).put('\0');
    const int devNull = open("/dev/null", O_WRONLY | O_CLOEXEC);

    RLMHelperRunner::Seams seams;
    seams.resourcesFolder = folder.string();
    seams.logger =
        orlune::rlm::StructuredLogger(orlune::rlm::StructuredLogger::kBundleIdentifier,
                                      orlune::rlm::StructuredLogger::kHelperCategory, devNull);
    const RLMHelperRunner runner("bench-key", RLMHelperRunner::processEnvironment(), seams);
    const std::string question = "When is the party?";
    const std::string request = RLMHelperRunner::encodeRequest(std::string("bench-key"), question,
                                                               db, std::nullopt, {}, std::nullopt);

    auto timeOnce = [](auto&& work) {
        const auto start = Clock::now();
        work();
        return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    };
    for (int i = 0; i < 5; ++i) { // warm-up
        runner.run(question, db);
        directExchange(helper, request);
    }
    std::vector<double> runnerTimes, directTimes;
    for (int i = 0; i < runs; ++i) { // interleaved, so drift hits both alike
        runnerTimes.push_back(timeOnce([&] {
            if (runner.run(question, db).answer != "Saturday.") {
                throw std::runtime_error("wrong answer from the runner");
            }
        }));
        directTimes.push_back(timeOnce([&] {
            if (directExchange(helper, request) != "{\"answer\":\"Saturday.\"}") {
                throw std::runtime_error("wrong answer from the direct exchange");
            }
        }));
    }
    const double runnerMedian = median(runnerTimes);
    const double directMedian = median(directTimes);
    std::printf("helper round trip, median of %d runs each (sh helper that answers at once)\n",
                runs);
    std::printf("  RLMHelperRunner::run       %8.3f ms\n", runnerMedian);
    std::printf("  posix_spawn + pipes        %8.3f ms\n", directMedian);
    std::printf("  ratio run / direct         %8.2f   (target <= 2)\n",
                runnerMedian / directMedian);

    close(devNull);
    std::error_code ignored;
    std::filesystem::remove_all(folder, ignored);
    return 0;
}
