// How the reading of what a person hands Orlune grows with its size: a
// question (QuestionReader::read) and a vCard file (VCardReader). Each is
// measured at a small and at a larger size in the same run, and the time per
// byte of the larger is printed as a ratio of the smaller's: about 1 for
// reading that is linear, and far more for reading that is not.
//
// Usage: bench_inputs [SCALE]   (default 1; 4 reads four times as much)
//
//   question: words that ask for attachments ("photo", "pdf", "voice
//             message"), times and common words, repeated to 4,000 and
//             40,000 characters (the second is past the length a question
//             may have; the reading itself is measured);
//   vCard:    one card with 80,000 and 320,000 quoted-printable soft line
//             breaks and folded lines, parsed from memory; then a file of
//             100 MB of cards read from disk, with the peak memory of a
//             child process that reads it beside one that only starts.

#include "answer/QuestionReading.hpp"
#include "contacts/VCardReader.hpp"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

using namespace orlune::core;
using Clock = std::chrono::steady_clock;

template <typename Work> double secondsOf(Work&& work) {
    const auto start = Clock::now();
    work();
    return std::chrono::duration<double>(Clock::now() - start).count();
}

std::string questionOf(size_t characters) {
    std::string question;
    while (question.size() < characters) {
        question += "the photo pdf yesterday voice message about the pics ";
    }
    question.resize(characters);
    return question;
}

std::string foldedCard(size_t pieces) {
    std::string card = "BEGIN:VCARD\r\nN;ENCODING=QUOTED-PRINTABLE:Day;";
    for (size_t i = 0; i < pieces; ++i) {
        card += "J=\r\n";
    }
    card += "ess\r\nNOTE:";
    for (size_t i = 0; i < pieces; ++i) {
        card += "n\r\n ";
    }
    return card + "end\r\nEND:VCARD\r\n";
}

// Peak resident memory in KiB of a child process running `work`.
template <typename Work> long childPeakKiB(Work&& work) {
    std::fflush(stdout); // printed once, not again by the child
    const pid_t child = fork();
    if (child == 0) {
        work();
        _exit(0);
    }
    int status = 0;
    rusage usage{};
    wait4(child, &status, 0, &usage);
    return usage.ru_maxrss;
}

void printRatio(const char* what, size_t small, double smallSeconds, size_t large,
                double largeSeconds) {
    const double ratio =
        (largeSeconds / static_cast<double>(large)) / (smallSeconds / static_cast<double>(small));
    std::printf("%-8s %9zu: %8.3f s   %9zu: %8.3f s   time per unit, large/small: %.2f\n", what,
                small, smallSeconds, large, largeSeconds, ratio);
}

} // namespace

int main(int argc, char** argv) {
    const size_t scale = argc > 1 ? static_cast<size_t>(std::max(1, std::atoi(argv[1]))) : 1;
    const People people;
    const TimeExpressionParser parser;
    const QuestionReader reader(people, {"Book Club", "Ski Trip"}, parser);
    const TimeContext now = TimeContext::system();

    const size_t shortQuestion = 4000 * scale;
    const size_t longQuestion = 40000 * scale;
    const std::string small = questionOf(shortQuestion);
    const std::string large = questionOf(longQuestion);
    const double smallRead = secondsOf([&] { reader.read(small, now); });
    const double largeRead = secondsOf([&] { reader.read(large, now); });
    printRatio("question", shortQuestion, smallRead, longQuestion, largeRead);

    const size_t fewPieces = 80000 * scale;
    const size_t manyPieces = 320000 * scale;
    const std::string fewText = foldedCard(fewPieces);
    const std::string manyText = foldedCard(manyPieces);
    const double fewParse = secondsOf([&] { VCardReader::parse(fewText, "few.vcf", 0); });
    const double manyParse = secondsOf([&] { VCardReader::parse(manyText, "many.vcf", 0); });
    printRatio("vCard", fewPieces, fewParse, manyPieces, manyParse);

    const std::filesystem::path file = std::filesystem::temp_directory_path() /
                                       ("orlune-bench-inputs-" + std::to_string(getpid()) + ".vcf");
    size_t cards = 0;
    {
        std::ofstream out(file, std::ios::binary);
        size_t written = 0;
        while (written < (100u << 20)) {
            const std::string card = "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:Person " +
                                     std::to_string(cards) + "\r\nN:Person;" +
                                     std::to_string(cards) + ";;;\r\nTEL:+1 555 " +
                                     std::to_string(1000000 + cards) + "\r\nEND:VCARD\r\n";
            out << card;
            written += card.size();
            ++cards;
        }
    }
    const long idleKiB = childPeakKiB([] {});
    const long readKiB = childPeakKiB([&] {
        const double seconds = secondsOf([&] { VCardReader::readFile(file.string(), 0); });
        std::printf("vCard file of 100 MB (%zu cards): read in %.2f s\n", cards, seconds);
        std::fflush(stdout);
    });
    std::printf("peak memory: %ld MiB reading it, %ld MiB for a child that only starts\n",
                readKiB / 1024, idleKiB / 1024);
    std::filesystem::remove(file);
    return 0;
}
