#include "helper/HelperRequest.hpp"

#include "helper/HelperError.hpp"

#include <gtest/gtest.h>

namespace orlune::helper {
namespace {

TEST(HelperRequest, ReadsEveryKnownKeyAndIgnoresOthers) {
    HelperRequest request = HelperRequest::parse(
        R"({"future_key":{"x":1},"conversation_summary":"  We talked about dinner. ",)"
        R"("verbose":true,"index_only":true,"max_calls":5,"max_depth":1,"model":" m-1 ","base_url":" http://127.0.0.1:8080/v1 ","db_path":"\/tmp\/s.db",)"
        R"("question":"  Where?\n","api_key":" k ","conversation_messages":)"
        R"([{"role":"user","text":"Hi"},{"role":"assistant","text":"Hello"}]})");
    EXPECT_EQ(request.question, "Where?");
    EXPECT_EQ(request.dbPath, "/tmp/s.db");
    EXPECT_EQ(request.apiKey, "k");
    EXPECT_EQ(request.model, "m-1");
    EXPECT_EQ(request.baseUrl, "http://127.0.0.1:8080/v1");
    EXPECT_EQ(request.maxDepth, 1);
    EXPECT_EQ(request.maxCalls, 5);
    EXPECT_TRUE(request.verbose);
    EXPECT_TRUE(request.indexOnly);
    ASSERT_EQ(request.conversation.size(), 2u);
    EXPECT_EQ(request.conversation[1].role, "assistant");
    EXPECT_EQ(request.conversation[1].text, "Hello");
    EXPECT_EQ(request.summary, "We talked about dinner.");
}

TEST(HelperRequest, AbsentNullAndBlankValuesTakeDefaults) {
    HelperRequest request = HelperRequest::parse(
        R"({"question":"q","db_path":"d","api_key":"  ","model":"","base_url":" ",)"
        R"("max_depth":null,)"
        R"("max_calls":null,"conversation_messages":null,"conversation_summary":" "})");
    EXPECT_FALSE(request.apiKey);
    EXPECT_FALSE(request.model);
    EXPECT_FALSE(request.baseUrl);
    EXPECT_FALSE(request.summary);
    EXPECT_EQ(request.maxDepth, HelperRequest::kDefaultMaxDepth);
    EXPECT_EQ(request.maxCalls, HelperRequest::kDefaultMaxCalls);
    EXPECT_FALSE(request.verbose);
    EXPECT_FALSE(request.indexOnly);
    EXPECT_TRUE(request.conversation.empty());
}

TEST(HelperRequest, WithoutADatabasePathTheDefaultIsMeant) {
    EXPECT_FALSE(HelperRequest::parse(R"({"question":"q"})").dbPath);
    EXPECT_EQ(HelperRequest::parse(R"({"question":"q","db_path":"d"})").dbPath, "d");
}

TEST(HelperRequest, LargeLimitsAreCappedAndZeroDepthIsKept) {
    HelperRequest request =
        HelperRequest::parse(R"({"question":"q","db_path":"d","max_depth":0,"max_calls":100000})");
    EXPECT_EQ(request.maxDepth, 0);
    EXPECT_EQ(request.maxCalls, HelperRequest::kMaxCallsCeiling);
    request = HelperRequest::parse(R"({"question":"q","db_path":"d","max_depth":99})");
    EXPECT_EQ(request.maxDepth, HelperRequest::kMaxDepthCeiling);
}

TEST(HelperRequest, UnusableDocumentsAreInvalidRequests) {
    const char* documents[] = {
        "",
        "not json",
        "[1,2]",
        R"({"db_path":"d"})",
        R"({"question":"   ","db_path":"d"})",
        R"({"question":"q","db_path":""})",
        R"({"question":7,"db_path":"d"})",
        R"({"question":"q","db_path":"d","max_calls":0})",
        R"({"question":"q","db_path":"d","max_depth":-1})",
        R"({"question":"q","db_path":"d","max_depth":1.5})",
        R"({"question":"q","db_path":"d","max_calls":"3"})",
        R"({"question":"q","db_path":"d","verbose":"no"})",
        R"({"question":"q","db_path":"d","index_only":1})",
        R"({"question":"q","db_path":"d","conversation_messages":[{"role":"user"}]})",
        R"({"question":"q","db_path":"d","conversation_messages":{"role":"user","text":"t"}})",
        R"({"question":"q","db_path":"d","api_key":5})",
        R"({"question":"q","db_path":"d","base_url":["http://127.0.0.1/v1"]})",
        R"({"question":"q","db_path":"d","api_key":"sk-1\r\nX-Injected: 1"})",
    };
    for (const char* document : documents) {
        try {
            HelperRequest::parse(document);
            ADD_FAILURE() << "accepted: " << document;
        } catch (const HelperError& error) {
            EXPECT_EQ(error.kind(), HelperError::Kind::invalidRequest) << document;
            EXPECT_EQ(error.typeName(), "invalid_request");
            EXPECT_STRNE(error.what(), "") << document;
        }
    }
}

TEST(HelperRequest, AQuestionOverTheLengthCapIsRefusedSayingSo) {
    const std::string document =
        R"({"db_path":"d","question":")" + std::string(4001, 'q') + R"("})";
    try {
        HelperRequest::parse(document);
        ADD_FAILURE() << "accepted";
    } catch (const HelperError& error) {
        EXPECT_EQ(error.kind(), HelperError::Kind::invalidRequest);
        EXPECT_STREQ(error.what(),
                     "This question is 4,001 characters long; ask it in at most 4,000 characters.");
    }
}

} // namespace
} // namespace orlune::helper
