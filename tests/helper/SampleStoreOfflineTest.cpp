// Offline answers on the built-in sample store, synced into a shadow database
// the way the application does it.

#include "shadow/ShadowDBReader.hpp"
#include "sync/ShadowSync.hpp"
#include "tests/helper/HelperTestSupport.hpp"
#include "tests/support/TempDir.hpp"
#include "tools/samplestore/SampleStore.hpp"

#include <gtest/gtest.h>
#include <regex>
#include <sstream>

namespace orlune::testing {
namespace {

using nlohmann::json;

// ", Tue 19 Dec 2023, 01:14: \"": a time as a person reads it.
const std::regex kLocalTime(R"(, [A-Z][a-z]{2} \d{1,2} [A-Z][a-z]{2}( \d{4})?, \d\d:\d\d: ")");
// "(and 2 more like it)" after a text sent several times.
const std::regex kCopies(R"(\(and (\d+) more like it\)$)");
// A one-to-one chat is not named after its sender a second time.
const std::regex kChatNamedTwice(R"(^\d+\. (.+) in \1, )");

class SampleStoreOfflineTest : public ::testing::Test {
protected:
    void SetUp() override {
        samplestore::SampleStoreOptions options;
        options.messageCount = 600;
        samplestore::buildSampleStore(dir.file("chat.db"), options);
        core::ShadowSync(dir.file("chat.db"), shadowPath).performSync();
    }

    std::string ask(const std::string& question) {
        json request = {{"question", question}, {"db_path", shadowPath}, {"verbose", false}};
        ProcessResult result =
            runHelperProcess(request.dump(), {"HOME=" + dir.path().string()}, dir.path().string());
        EXPECT_EQ(result.exitCode, 0) << result.err;
        json response = json::parse(result.out, nullptr, false);
        EXPECT_TRUE(response.is_object() && response.contains("answer")) << result.out;
        return response.is_object() ? response.value("answer", "") : "";
    }

    // Messages whose text holds `word`, ignoring case (ASCII).
    int64_t messagesWith(const std::string& word) {
        core::ShadowDBReader db(shadowPath);
        const auto result = db.executeReadOnly(
            "SELECT COUNT(*) AS n FROM messages WHERE lower(text) LIKE '%" + word + "%'", 1);
        return result.rows.at(0).at("n").asInteger();
    }

    TempDir dir;
    std::string shadowPath = dir.file("shadow.db");
};

// A numbered line of an offline answer ("3. ..."); the line that states the
// answer may begin with a number too.
const std::regex kListItem("^[0-9]+\\. ");

// The numbered lines of an offline answer.
std::vector<std::string> listedMessages(const std::string& answer) {
    std::vector<std::string> lines;
    std::istringstream in(answer);
    for (std::string line; std::getline(in, line);) {
        if (std::regex_search(line, kListItem)) {
            lines.push_back(line);
        }
    }
    return lines;
}

std::string lowerAscii(std::string text) {
    for (char& c : text) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return text;
}

TEST_F(SampleStoreOfflineTest, ATopicInTheStoreFindsItsMessages) {
    const std::pair<std::string, std::string> cases[] = {
        {"ramen", "Where did we get ramen?"},
        {"tickets", "Who has the tickets?"},
        {"dentist", "When was the dentist?"},
    };
    for (const auto& [word, question] : cases) {
        const int64_t present = messagesWith(word);
        ASSERT_GT(present, 0) << word << " should be in the sample store";
        std::string answer = ask(question);
        EXPECT_NE(
            answer.find("Answer from your messages (no model used: no API key is configured)"),
            std::string::npos)
            << answer;
        auto lines = listedMessages(answer);
        // Each line stands for its message and the copies of its text.
        int64_t shown = 0;
        for (const std::string& line : lines) {
            std::smatch copies;
            shown += 1 + (std::regex_search(line, copies, kCopies) ? std::stoll(copies[1]) : 0);
        }
        EXPECT_LE(lines.size(), 8u) << answer;
        EXPECT_GE(shown, std::min<int64_t>(present, 8)) << answer;
        for (const std::string& line : lines) {
            EXPECT_NE(lowerAscii(line).find(word), std::string::npos) << line;
            EXPECT_FALSE(std::regex_search(line, kChatNamedTwice)) << line;
            EXPECT_TRUE(std::regex_search(line, kLocalTime)) << line;
        }
    }
}

TEST_F(SampleStoreOfflineTest, AnAbsentTopicSaysNothingWasFound) {
    ASSERT_EQ(messagesWith("submarine"), 0);
    ASSERT_EQ(messagesWith("mention"), 0);
    std::string answer = ask("Did anyone mention the submarine?");
    EXPECT_NE(answer.find(R"(No messages were found. I looked for messages about "submarine".)"),
              std::string::npos)
        << answer;
    EXPECT_TRUE(listedMessages(answer).empty()) << answer;
}

} // namespace
} // namespace orlune::testing
