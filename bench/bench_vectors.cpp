// What the search by meaning costs: the scan of the stored vectors for the
// messages nearest to a question (ShadowVectors::nearest), against reading
// the same rows without comparing them, in the same database and run; and
// how much the scan adds to the process's peak memory.
//
//   bench_vectors [--vectors N[,N...]] [--dimension D] [--dir PATH] [--keep]
//
// For each N (default 100000,1000000) builds a shadow database of N messages
// each with a random vector of D dimensions (default 384), then times, median
// of 5: (b) SELECT sum(length(vector)) over every vector; (a) the 50 nearest
// to a random question. Prints both, their ratio, the file's size and the
// growth of the peak resident size during (a) (on Linux; elsewhere the peak
// includes the building).

#include "BenchSupport.hpp"
#include "shadow/ShadowDB.hpp"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <random>
#include <sstream>
#include <string>
#include <unistd.h>
#include <vector>

using namespace orlune;
using namespace orlune::bench;

namespace {

// The process's peak resident size in kB since the last resetPeak()
// (VmHWM; Linux), else since it started (getrusage).
long peakResidentKilobytes() {
#ifdef __linux__
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);) {
        if (line.rfind("VmHWM:", 0) == 0) {
            return std::atol(line.c_str() + 6);
        }
    }
#endif
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

// Sets the peak back to the resident size now, where the system allows it
// (Linux), so that building the database does not hide what a scan adds.
void resetPeak() {
#ifdef __linux__
    std::ofstream("/proc/self/clear_refs") << "5";
#endif
}

std::vector<float> randomVector(std::mt19937& random, int dimension) {
    std::normal_distribution<float> normal;
    std::vector<float> vector(static_cast<size_t>(dimension));
    for (float& value : vector) {
        value = normal(random);
    }
    return vector;
}

// N messages without full-text index entries (the scan never reads them),
// each with a vector.
void build(const std::string& path, int64_t count, int dimension) {
    core::ShadowDB db(path);
    db.createSchemaIfNeeded();
    sqlite3* handle = nullptr;
    sqlite3_open(path.c_str(), &handle);
    core::sqlite::Connection connection(handle);
    connection.exec("DROP TRIGGER messages_fts_insert");
    std::mt19937 random(7);
    core::sqlite::Transaction transaction(handle);
    connection.exec("INSERT INTO vector_model (id, model, dimension) VALUES (1, 'bench', " +
                    std::to_string(dimension) + ")");
    core::sqlite::Statement message = connection.prepare(
        "INSERT INTO messages (rowid, guid, chat_id, sender, text, timestamp, is_from_me, "
        "is_group) VALUES (?, ?, 'chat', 'me', 'text', ?, 1, 0)");
    core::sqlite::Statement vector = connection.prepare(
        "INSERT INTO message_vectors (message_rowid, scale, vector) VALUES (?, ?, ?)");
    for (int64_t i = 1; i <= count; ++i) {
        message.reset();
        message.bindInt64(1, i);
        message.bindText(2, "guid-" + std::to_string(i));
        message.bindInt64(3, i);
        message.run();
        const core::ShadowVectors::Quantized q =
            core::ShadowVectors::quantize(randomVector(random, dimension));
        vector.reset();
        vector.bindInt64(1, i);
        vector.bindDouble(2, q.scale);
        vector.bindBlob(3, q.bytes);
        vector.run();
    }
    transaction.commit();
}

template <typename Work> Figures median(Work work) {
    std::vector<Figures> runs;
    for (int i = 0; i < 5; ++i) {
        const Stopwatch watch;
        const int64_t rows = work();
        runs.push_back(stop(watch, rows));
    }
    std::sort(runs.begin(), runs.end(),
              [](const Figures& a, const Figures& b) { return a.wall < b.wall; });
    return runs[2];
}

} // namespace

int main(int argc, char** argv) {
    std::vector<int64_t> sizes = {100000, 1000000};
    int dimension = 384;
    std::string folder;
    bool keep = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--vectors" && i + 1 < argc) {
            sizes.clear();
            std::stringstream list(argv[++i]);
            for (std::string part; std::getline(list, part, ',');) {
                sizes.push_back(std::atoll(part.c_str()));
            }
        } else if (arg == "--dimension" && i + 1 < argc) {
            dimension = std::atoi(argv[++i]);
        } else if (arg == "--dir" && i + 1 < argc) {
            folder = argv[++i];
        } else if (arg == "--keep") {
            keep = true;
        } else {
            std::cerr << "usage: bench_vectors [--vectors N[,N...]] [--dimension D] [--dir PATH] "
                         "[--keep]\n";
            return 2;
        }
    }
    namespace fs = std::filesystem;
    if (folder.empty()) {
        folder = (fs::temp_directory_path() / ("orlune-bench-vectors-" + std::to_string(getpid())))
                     .string();
    }
    fs::create_directories(folder);
    std::mt19937 random(11);
    for (const int64_t count : sizes) {
        const std::string path = folder + "/vectors-" + std::to_string(count) + ".db";
        fs::remove(path);
        const Stopwatch building;
        build(path, count, dimension);
        std::printf("%lld vectors of %d dimensions: built in %s, file %.1f MB\n",
                    static_cast<long long>(count), dimension, describe(stop(building)).c_str(),
                    static_cast<double>(fs::file_size(path)) / 1e6);

        core::ShadowDBReader reader(path);
        const Figures baseline = median([&] {
            return static_cast<int64_t>(
                reader
                    .executeReadOnly("SELECT sum(length(vector)) FROM message_vectors", 1,
                                     std::chrono::minutes(10))
                    .rows.size());
        });
        const std::vector<float> question = randomVector(random, dimension);
        resetPeak();
        const long peakBefore = peakResidentKilobytes();
        const Figures scan = median([&] {
            return static_cast<int64_t>(
                reader.vectors().nearest(question, 50, core::VectorScope{}).size());
        });
        const long peakAfter = peakResidentKilobytes();
        std::printf("  (b) reading every vector: %s\n", describe(baseline).c_str());
        std::printf("  (a) 50 nearest:           %s\n", describe(scan).c_str());
        std::printf("  a/b: %s\n", ratio(scan, baseline).c_str());
        std::printf("  peak resident size grew by %.1f MB during (a)\n",
                    static_cast<double>(peakAfter - peakBefore) / 1024.0);
    }
    if (!keep) {
        fs::remove_all(folder);
    }
    return 0;
}
