// The answer from the index on a large shadow database: AnswerFinder::find
// (read the question, run the planned searches within its people, chats and
// time, fuse them) against one plain full-text search for the question's
// words joined by OR (the index answer before questions were read), on the
// same file, in the same run.
//
// Usage: bench_answer [MESSAGES] [ROUNDS] [FOLDER]
//        (default 1000000 messages, 5 rounds, a temporary folder)
//
// Builds a sample messaging store with replies made in threads and its
// address book in a folder, syncs them into a shadow database (so that the
// finder reads each best hit's window and thread), then asks a fixed set of
// questions (some naming people of the address book) ROUNDS times through
// both paths, alternating which goes first, and prints p50 and p95 of each,
// their ratio, and each question's slowest answer. A fresh AnswerFinder is made
// for every question, as the helper does. A temporary folder is removed at
// the end; a FOLDER given is kept, and a later run with the same FOLDER
// reuses its shadow database instead of building the store again.

#include "answer/AnswerFinder.hpp"
#include "sync/ShadowSync.hpp"
#include "tools/samplestore/SampleStore.hpp"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
using namespace orlune::core;

constexpr int kLimit = 8;

double percentile(std::vector<double> values, double p) {
    std::sort(values.begin(), values.end());
    return values[static_cast<size_t>(static_cast<double>(values.size() - 1) * p)];
}

double millisecondsSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// Questions as people ask them; {name} is a first name from the address book.
std::vector<std::string> questions(const People& people) {
    std::vector<std::string> names;
    for (const Person& person : people.people) {
        if (!person.firstName.empty() && names.size() < 3) {
            names.push_back(person.firstName);
        }
    }
    while (names.size() < 3) {
        names.push_back("Alex");
    }
    return {
        "what did " + names[0] + " say about dinner?",
        "when did " + names[1] + " send me a photo?",
        "what did I tell " + names[2] + " about the keys",
        "tickets for the weekend",
        "pizza last week",
        "where is the party on saturday?",
        names[0] + "'s flight yesterday",
        "what did " + names[1] + " say about the airport terminal last month?",
        "coffee beans",
        "did anyone mention the farmers market since March?",
    };
}

} // namespace

int main(int argc, char** argv) {
    const int64_t messages = argc > 1 ? std::atoll(argv[1]) : 1'000'000;
    const int rounds = argc > 2 ? std::atoi(argv[2]) : 5;

    const bool keepFolder = argc > 3;
    std::filesystem::path folder;
    if (keepFolder) {
        folder = argv[3];
        std::filesystem::create_directories(folder);
    } else {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "bench-answer-XXXXXX").string();
        if (mkdtemp(pattern.data()) == nullptr) {
            std::perror("mkdtemp");
            return 1;
        }
        folder = pattern;
    }
    const std::string storePath = (folder / "chat.db").string();
    const std::string shadowPath = (folder / "shadow.db").string();
    const std::string books = (folder / "AddressBook").string();
    setenv("ORLUNE_DATA_DIR", folder.c_str(), 1);
    setenv("ADDRESS_BOOK_PATH", books.c_str(), 1);

    if (!(keepFolder && std::filesystem::exists(shadowPath))) {
        std::printf("building a store of %lld messages and its address book...\n",
                    static_cast<long long>(messages));
        orlune::samplestore::SampleStoreOptions options;
        options.messageCount = messages;
        options.content.threads = true;
        orlune::samplestore::buildSampleStore(storePath, options);
        orlune::samplestore::writeSampleAddressBook(books);
        ShadowSync(storePath, shadowPath).performSync();
    }

    ShadowDBReader db(shadowPath);
    const std::vector<std::string> asked = questions(db.people());
    const TimeContext context = TimeContext::system();
    const TimeExpressionParser parser;
    const QueryBounds bounds;

    std::vector<double> finder;
    std::vector<double> plain;
    std::vector<double> slowestPerQuestion(asked.size(), 0.0);
    size_t found = 0;
    for (int round = 0; round < rounds; ++round) {
        for (size_t index = 0; index < asked.size(); ++index) {
            const std::string& question = asked[index];
            auto runFinder = [&] {
                const auto start = Clock::now();
                AnswerFinder answers(db);
                found += answers.find(question, context, kLimit, bounds).messages.size();
                finder.push_back(millisecondsSince(start));
                slowestPerQuestion[index] = std::max(slowestPerQuestion[index], finder.back());
            };
            auto runPlain = [&] {
                const auto start = Clock::now();
                const People none;
                const QuestionReading reading =
                    QuestionReader(none, {}, parser).read(question, context);
                const std::string match = prefixMatch(reading.words, " OR ");
                if (!match.empty()) {
                    (void)db.search(match, kLimit, bounds);
                }
                plain.push_back(millisecondsSince(start));
            };
            if (round % 2 == 0) {
                runFinder();
                runPlain();
            } else {
                runPlain();
                runFinder();
            }
        }
    }
    std::printf("%zu questions x %d rounds on %lld messages (%zu messages found)\n", asked.size(),
                rounds, static_cast<long long>(db.messageCount()), found);
    std::printf("answer finder  p50 %8.2f ms  p95 %8.2f ms\n", percentile(finder, 0.5),
                percentile(finder, 0.95));
    std::printf("plain search   p50 %8.2f ms  p95 %8.2f ms\n", percentile(plain, 0.5),
                percentile(plain, 0.95));
    std::printf("ratio          p50 %8.2f     p95 %8.2f\n",
                percentile(finder, 0.5) / percentile(plain, 0.5),
                percentile(finder, 0.95) / percentile(plain, 0.95));
    std::printf("slowest answer per question:\n");
    for (size_t index = 0; index < asked.size(); ++index) {
        std::printf("  %8.2f ms  %s\n", slowestPerQuestion[index], asked[index].c_str());
    }
    if (!keepFolder) {
        std::filesystem::remove_all(folder);
    }
    return 0;
}
