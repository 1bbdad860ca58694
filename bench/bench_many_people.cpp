// The cost of naming people when the address book is very large: a search
// from a name (`orlune search --from Alex`, MessageSearch) and a question
// that names someone (AnswerFinder), on a shadow database holding PEOPLE
// people (default 1,000,000; one in 333 is an "Alex ...", the rest "Sam
// ..."), each with a handle, and 50,000 messages. Each measurement runs in a
// child process of its own, for its peak memory, and is printed beside a
// plain search of the same database in the same run. Naming "Alex" is
// measured both ways: as the search did it before (every person and handle
// read into memory, then findNamed) and as it does now (handlesNamed).
//
// Usage: bench_many_people [PEOPLE] [FOLDER]
//   FOLDER keeps the database there for later runs (made when missing).

#include "answer/AnswerFinder.hpp"
#include "answer/MessageSearch.hpp"
#include "contacts/PersonNames.hpp"
#include "shadow/ShadowDB.hpp"
#include "sql/SQLite.hpp"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

using namespace orlune::core;
using Clock = std::chrono::steady_clock;

constexpr int kMessages = 50000;

std::string handleOf(long person) {
    return "+1555" + std::to_string(1000000 + person);
}

void buildDatabase(const std::string& path, long people) {
    ShadowDB db(path);
    db.createSchemaIfNeeded();
    std::vector<ShadowMessage> batch;
    for (int i = 0; i < kMessages; ++i) {
        const long sender = (i * 7) % 5000;
        batch.emplace_back("guid-" + std::to_string(i), "chat-" + std::to_string(sender),
                           std::nullopt, handleOf(sender),
                           (i % 10 == 0 ? "dinner at eight " : "see you soon ") + std::to_string(i),
                           700000000000000000LL + static_cast<int64_t>(i) * 1000000000LL, false,
                           false, false, std::vector<std::string>{}, 1);
        if (batch.size() == 10000) {
            db.insertBatch(batch);
            batch.clear();
        }
    }
    db.close();
    sqlite::Connection raw;
    if (raw.open(path, SQLITE_OPEN_READWRITE) != SQLITE_OK) {
        std::fprintf(stderr, "cannot open %s\n", path.c_str());
        std::exit(1);
    }
    raw.exec("BEGIN");
    raw.exec("WITH RECURSIVE n(i) AS (SELECT 0 UNION ALL SELECT i + 1 FROM n WHERE i + 1 < " +
             std::to_string(people) +
             ") INSERT INTO people (person_id, display_name, first_name, last_name) "
             "SELECT 'p' || i, (CASE WHEN i % 333 = 0 THEN 'Alex' ELSE 'Sam' END) || ' Person' "
             "|| i, CASE WHEN i % 333 = 0 THEN 'Alex' ELSE 'Sam' END, 'Person' || i FROM n");
    raw.exec("INSERT INTO person_handles (handle, person_id) SELECT '+1555' || (1000000 + "
             "CAST(substr(person_id, 2) AS INTEGER)), person_id FROM people");
    raw.exec("INSERT OR REPLACE INTO chats (chat_id, display_name, is_group, title) SELECT "
             "DISTINCT chat_id, NULL, 0, chat_id FROM messages");
    raw.exec("COMMIT");
}

struct Measured {
    double seconds = 0;
    long peakKiB = 0;
};

// Runs `work` in a child process; its time (printed by the child) and peak
// resident memory.
Measured inChild(const char* name, const std::function<std::string()>& work) {
    std::fflush(stdout);
    int pipeEnds[2];
    if (pipe(pipeEnds) != 0) {
        std::exit(1);
    }
    const pid_t child = fork();
    if (child == 0) {
        close(pipeEnds[0]);
        const auto start = Clock::now();
        const std::string said = work();
        const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
        std::printf("  %-34s %s\n", name, said.c_str());
        std::fflush(stdout);
        (void)!write(pipeEnds[1], &seconds, sizeof seconds);
        _exit(0);
    }
    close(pipeEnds[1]);
    Measured measured;
    (void)!read(pipeEnds[0], &measured.seconds, sizeof measured.seconds);
    close(pipeEnds[0]);
    int status = 0;
    rusage usage{};
    wait4(child, &status, 0, &usage);
    measured.peakKiB = usage.ru_maxrss;
    return measured;
}

std::string searchFrom(const std::string& path, const std::string& from) {
    ShadowDBReader db(path);
    SearchFilters filters;
    filters.from = from;
    try {
        const FilteredSearch found =
            searchMessages(db, "dinner", filters, 20, QueryBounds{}, TimeContext::system(), "US");
        std::string said = std::to_string(found.outcome.results.size()) + " hits";
        for (const std::string& note : found.notes) {
            said += "; " + note.substr(0, 120);
        }
        return said;
    } catch (const std::exception& error) {
        return std::string("failed: ") + std::string(error.what()).substr(0, 160);
    }
}

// Whom "Alex" names as the search did before: every person and handle read
// into memory, then findNamed.
std::string namedInMemory(const std::string& path, const std::string& typed) {
    ShadowDBReader db(path);
    const NamedPeople named = findNamed(typed, db.people(), db.knownHandles(), "US");
    return std::to_string(named.people.size()) + " people, " +
           std::to_string(named.handleIds.size()) + " handles";
}

std::string namedStreamed(const std::string& path, const std::string& typed) {
    ShadowDBReader db(path);
    const auto named = db.handlesNamed(typed, "US");
    return std::to_string(named.people) + " people (" + std::to_string(named.peopleLeftOut) +
           " left out), " + std::to_string(named.handleIds.size()) + " handles";
}

std::string ask(const std::string& path, const std::string& question) {
    ShadowDBReader db(path);
    try {
        AnswerFinder finder(db);
        const FoundAnswer answer = finder.find(question, TimeContext::system(), 20, QueryBounds{});
        return std::to_string(answer.messages.size()) + " messages; understood " +
               std::to_string(answer.understood.size()) +
               " bytes: " + answer.understood.substr(0, 100);
    } catch (const std::exception& error) {
        return std::string("failed: ") + std::string(error.what()).substr(0, 160);
    }
}

} // namespace

int main(int argc, char** argv) {
    const long people = argc > 1 ? std::max(1L, std::atol(argv[1])) : 1000000L;
    const bool kept = argc > 2;
    const std::filesystem::path folder =
        kept ? std::filesystem::path(argv[2])
             : std::filesystem::temp_directory_path() /
                   ("orlune-bench-people-" + std::to_string(getpid()));
    std::filesystem::create_directories(folder);
    const std::string path = (folder / ("people-" + std::to_string(people) + ".db")).string();
    if (!std::filesystem::exists(path)) {
        const auto start = Clock::now();
        buildDatabase(path, people);
        std::printf("built %s (%ld people, %d messages) in %.1f s\n", path.c_str(), people,
                    kMessages, std::chrono::duration<double>(Clock::now() - start).count());
    }

    const Measured baseline = inChild("search dinner", [&] { return searchFrom(path, ""); });
    struct Row {
        const char* name;
        std::function<std::string()> work;
    };
    const Row rows[] = {
        {"name Alex: every person in memory", [&] { return namedInMemory(path, "Alex"); }},
        {"name Alex: streamed, bounded", [&] { return namedStreamed(path, "Alex"); }},
        {"search dinner --from Alex", [&] { return searchFrom(path, "Alex"); }},
        {"search dinner --from 'Alex Person333'",
         [&] { return searchFrom(path, "Alex Person333"); }},
        {"ask: what did Alex say about dinner",
         [&] { return ask(path, "what did Alex say about dinner"); }},
    };
    std::printf("%-40s %9s %9s %8s %8s\n", "", "seconds", "peak MiB", "time x", "memory x");
    std::printf("%-40s %9.2f %9ld %8.1f %8.1f\n", "baseline: search dinner", baseline.seconds,
                baseline.peakKiB / 1024, 1.0, 1.0);
    for (const Row& row : rows) {
        const Measured measured = inChild(row.name, row.work);
        std::printf("%-40s %9.2f %9ld %8.1f %8.1f\n", row.name, measured.seconds,
                    measured.peakKiB / 1024, measured.seconds / baseline.seconds,
                    static_cast<double>(measured.peakKiB) / static_cast<double>(baseline.peakKiB));
    }
    if (!kept) {
        std::filesystem::remove_all(folder);
    }
    return 0;
}
