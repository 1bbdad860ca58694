// What the contacts step costs beside a first sync, measured in the same run.
//
//   bench_contacts [--contacts N] [--handles M] [--messages K] [--rounds R]
//
// Writes two address books (a top-level one and an account's, N contacts in
// all, default 5,000; one in five people is in both books under another
// spelling) with phone numbers typed the ways people type them, and makes M
// handles (default 20,000) as a store holds them: most people's numbers once
// for iMessage and once for SMS, e-mail addresses in other case, strangers'
// numbers, short codes and business ids. Then:
//   (a) reads both books and matches the handles to people R times (default
//       5) and keeps the fastest pass (and prints the median);
//   (b) times a first ShadowSync of a sample store of K messages (default
//       200,000) and scales it to 1,000,000 messages (the sync's cost is
//       linear in the messages; run with --messages 1000000 to measure it);
// and prints (a) as a share of (b). Target: under 5%.

#include "contacts/AddressBookReader.hpp"
#include "contacts/PeopleMatcher.hpp"
#include "contacts/PersonNames.hpp"
#include "sync/ShadowSync.hpp"
#include "tools/samplestore/AddressBookWriter.hpp"
#include "tools/samplestore/SampleStore.hpp"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <random>
#include <string>
#include <sys/resource.h>
#include <unistd.h>
#include <vector>

namespace {

using namespace orlune;
using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;

double cpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    auto seconds = [](const timeval& t) { return t.tv_sec + t.tv_usec / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

struct Figures {
    double wall = 0;
    double cpu = 0;
};

template <typename Work> Figures measure(Work&& work) {
    const auto start = Clock::now();
    const double cpu = cpuSeconds();
    work();
    return Figures{std::chrono::duration<double>(Clock::now() - start).count(), cpuSeconds() - cpu};
}

const char* const kFirstNames[] = {"Jess",  "Alex",  "Priya", "Sam",   "Chloé", "Noah",
                                   "Mia",   "Liam",  "Zoë",   "Omar",  "Ava",   "Ethan",
                                   "Sofia", "Lucas", "Emma",  "Mateo", "Yuki",  "Aarav"};
const char* const kLastNames[] = {"Day",    "Smith",  "Patel", "Müller", "García", "Kim",
                                  "Nguyen", "Rossi",  "Brown", "Dubois", "Silva",  "Cohen",
                                  "Okafor", "Jensen", "Novak", "Tanaka", "Haddad", "Lee"};

// A ten-digit North American number: area code and exchange from 2.
struct Number {
    int area, exchange, line;
};

std::string typed(const Number& n, int style) {
    char text[40];
    switch (style % 4) {
    case 0:
        std::snprintf(text, sizeof text, "(%03d) %03d-%04d", n.area, n.exchange, n.line);
        break;
    case 1:
        std::snprintf(text, sizeof text, "%03d.%03d.%04d", n.area, n.exchange, n.line);
        break;
    case 2:
        std::snprintf(text, sizeof text, "+1 %03d %03d %04d", n.area, n.exchange, n.line);
        break;
    default:
        std::snprintf(text, sizeof text, "1-%03d-%03d-%04d", n.area, n.exchange, n.line);
        break;
    }
    return text;
}

std::string e164(const Number& n) {
    char text[16];
    std::snprintf(text, sizeof text, "+1%03d%03d%04d", n.area, n.exchange, n.line);
    return text;
}

struct Workload {
    std::vector<core::HandleRecord> handles;
    int64_t contacts = 0;
};

Workload writeBooks(const std::string& folder, int64_t contacts, int64_t handleCount) {
    std::mt19937_64 random(20261210);
    auto pick = [&](int64_t n) {
        return static_cast<int64_t>(random() % static_cast<uint64_t>(n));
    };
    Workload work;
    samplestore::AddressBookWriter top(samplestore::AddressBookWriter::bookPath(folder));
    samplestore::AddressBookWriter account(
        samplestore::AddressBookWriter::bookPath(folder, "7E1C-ACCOUNT"), {.contactEntity = 19});
    top.beginTransaction();
    account.beginTransaction();
    top.addContainer("On My Mac");
    account.addContainer("Account");
    int64_t rowid = 0;
    auto addHandle = [&](std::string id, const char* service, const char* country) {
        if (static_cast<int64_t>(work.handles.size()) < handleCount) {
            work.handles.push_back({++rowid, std::move(id), service, country, ""});
        }
    };
    for (int64_t i = 0; work.contacts < contacts; ++i) {
        samplestore::AddressBookContact contact;
        contact.firstName = kFirstNames[pick(std::size(kFirstNames))];
        contact.lastName = kLastNames[pick(std::size(kLastNames))];
        const int phoneCount = 1 + static_cast<int>(pick(3));
        std::vector<Number> numbers;
        for (int p = 0; p < phoneCount; ++p) {
            numbers.push_back({200 + static_cast<int>(pick(800)), 200 + static_cast<int>(pick(800)),
                               static_cast<int>(pick(10000))});
            contact.phones.push_back(typed(numbers.back(), static_cast<int>(pick(4))));
        }
        const std::string email =
            contact.firstName.substr(0, 1) + contact.lastName + std::to_string(i) + "@Example.com";
        if (pick(2) == 0) {
            contact.emails.push_back(email);
        }
        if (i % 7 == 0) {
            contact.nickname = "Nick" + std::to_string(i);
        }
        (i % 2 == 0 ? top : account).addContact(contact);
        ++work.contacts;
        if (i % 5 == 0 && work.contacts < contacts) {
            samplestore::AddressBookContact again = contact;
            again.firstName += "ie";
            (i % 2 == 0 ? account : top).addContact(again);
            ++work.contacts;
        }
        // Most people have written: their numbers over both services.
        if (pick(10) < 7) {
            for (const Number& n : numbers) {
                addHandle(e164(n), "iMessage", "us");
                addHandle(e164(n), "SMS", "us");
            }
            if (!contact.emails.empty()) {
                std::string lower = email;
                std::transform(lower.begin(), lower.end(), lower.begin(),
                               [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
                addHandle(lower, "iMessage", "");
            }
        }
    }
    top.commit();
    account.commit();
    // Strangers, short codes and businesses fill the rest.
    while (static_cast<int64_t>(work.handles.size()) < handleCount) {
        switch (pick(4)) {
        case 0:
            addHandle(std::to_string(10000 + pick(890000)), "SMS", "us");
            break;
        case 1:
            addHandle("urn:biz:" + std::to_string(pick(1000000)), "iMessage", "");
            break;
        default:
            addHandle(e164({200 + static_cast<int>(pick(800)), 200 + static_cast<int>(pick(800)),
                            static_cast<int>(pick(10000))}),
                      "iMessage", "us");
            break;
        }
    }
    return work;
}

} // namespace

int main(int argc, char** argv) {
    int64_t contacts = 5000;
    int64_t handles = 20000;
    int64_t messages = 200000;
    int rounds = 5;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--contacts" && i + 1 < argc) {
            contacts = std::atoll(argv[++i]);
        } else if (arg == "--handles" && i + 1 < argc) {
            handles = std::atoll(argv[++i]);
        } else if (arg == "--messages" && i + 1 < argc) {
            messages = std::atoll(argv[++i]);
        } else if (arg == "--rounds" && i + 1 < argc) {
            rounds = std::atoi(argv[++i]);
        } else {
            std::cerr << "usage: bench_contacts [--contacts N] [--handles M] [--messages K] "
                         "[--rounds R]\n";
            return 2;
        }
    }
    if (contacts < 1 || handles < 1 || messages < 1 || rounds < 1) {
        std::cerr << "bench_contacts: every count must be at least 1\n";
        return 2;
    }
    const fs::path folder =
        fs::temp_directory_path() / ("orlune-bench-contacts-" + std::to_string(getpid()));
    fs::remove_all(folder);
    fs::create_directories(folder);
    int status = 0;
    try {
        const std::string books = (folder / "AddressBook").string();
        const Workload work = writeBooks(books, contacts, handles);
        std::cout << "bench_contacts: " << work.contacts << " contacts in 2 books, "
                  << work.handles.size() << " handles\n"
                  << std::flush;

        struct ProcessEnvironmentWithBooks : core::Environment {
            std::string location;
            std::optional<std::string> variable(const std::string& name) const override {
                if (name == core::AddressBookReader::kFolderOverride) {
                    return location;
                }
                return core::Environment::process().variable(name);
            }
            std::string homeDirectory() const override {
                return core::Environment::process().homeDirectory();
            }
            std::string applicationSupportDirectory() const override {
                return core::Environment::process().applicationSupportDirectory();
            }
        } environment;
        environment.location = books;

        // (a) read and match, R times.
        std::vector<Figures> passes, readings;
        size_t people = 0, links = 0;
        core::People matched;
        for (int r = 0; r < rounds; ++r) {
            core::ContactScan scan;
            readings.push_back(
                measure([&] { scan = core::AddressBookReader::readAll(environment); }));
            const Figures matching = measure([&] {
                matched = core::matchPeople(scan.cards, work.handles, "US");
                people = matched.people.size();
                links = matched.links.size();
            });
            passes.push_back(
                Figures{readings.back().wall + matching.wall, readings.back().cpu + matching.cpu});
        }
        auto byWall = [](const Figures& a, const Figures& b) { return a.wall < b.wall; };
        std::sort(passes.begin(), passes.end(), byWall);
        std::sort(readings.begin(), readings.end(), byWall);
        const Figures best = passes.front();
        std::printf("(a) contacts pass: best %.3f s wall (%.3f s CPU), median %.3f s; of which "
                    "reading the books %.3f s; %zu people, %zu of %zu handles matched\n",
                    best.wall, best.cpu, passes[passes.size() / 2].wall, readings.front().wall,
                    people, links, work.handles.size());

        // Looking people up, as `--from NAME` and a question do, over all of
        // them and every handle.
        std::vector<std::string> handleIds;
        for (const auto& handle : work.handles) {
            handleIds.push_back(handle.id);
        }
        size_t found = 0;
        const Figures byName = measure(
            [&] { found += core::findNamed("jess", matched, handleIds, "US").handleIds.size(); });
        const Figures byNumber = measure([&] {
            found += core::findNamed("(415) 555-0134", matched, handleIds, "US").handleIds.size();
        });
        const Figures inQuestion = measure([&] {
            found +=
                core::findPeopleMentioned("what did Jess Day say about Chloé yesterday?", matched)
                    .size();
        });
        std::printf("lookups: --from name %.1f ms, --from number %.1f ms, names in a question "
                    "%.1f ms (%zu found)\n",
                    byName.wall * 1e3, byNumber.wall * 1e3, inQuestion.wall * 1e3, found);

        // (b) the first sync it sits beside.
        const std::string store = (folder / "chat.db").string();
        samplestore::SampleStoreOptions options;
        options.messageCount = messages;
        options.seed = 20261210;
        samplestore::buildSampleStore(store, options);
        core::ShadowSync sync(store, (folder / "shadow.db").string());
        const Figures first = measure([&] { sync.performSync(); });
        const double scale = 1000000.0 / static_cast<double>(messages);
        std::printf("(b) first sync of %lld messages: %.2f s wall (%.2f s CPU); for 1,000,000: "
                    "%.1f s wall (%.1f s CPU)\n",
                    static_cast<long long>(messages), first.wall, first.cpu, first.wall * scale,
                    first.cpu * scale);
        std::printf("ratio (a)/(b) at 1,000,000 messages: %.2f%% wall, %.2f%% CPU (target < 5%%)\n",
                    100.0 * best.wall / (first.wall * scale),
                    100.0 * best.cpu / (first.cpu * scale));
    } catch (const std::exception& e) {
        std::cerr << "bench_contacts: " << e.what() << "\n";
        status = 1;
    }
    fs::remove_all(folder);
    return status;
}
