// The model server setting: which addresses can be saved, when the key setup
// is asked for, and how the menu names what answers.

#include "services/ModelServer.hpp"

#include <gtest/gtest.h>

namespace orlune::testing {
namespace {

using rlm::AppConfig;
using rlm::ModelServer;

TEST(ModelServerTest, OnlyAWebAddressWithAServerNameCanBeSaved) {
    const struct {
        const char* address;
        const char* problemStart; // nullptr: can be saved
    } cases[] = {
        {"", nullptr},
        {"   ", nullptr}, // blank removes the setting
        {"http://127.0.0.1:8080/v1", nullptr},
        {"  https://models.example.com/v1 \n", nullptr},
        {"HTTPS://Models.Example.com", nullptr},
        {"not a url", "The server address is not a web address"},
        {"models.example.com/v1", "The server address must start with http:// or https://"},
        {"127.0.0.1:8080/v1", "The server address must start with http:// or https://"},
        {"ftp://models.example.com", "The server address must start with http:// or https://"},
        {"http://", "The server address has no server name"},
        {"http:///v1", "The server address has no server name"},
    };
    for (const auto& c : cases) {
        const QString problem = ModelServer::addressProblem(QString::fromUtf8(c.address));
        if (c.problemStart == nullptr) {
            EXPECT_TRUE(problem.isEmpty()) << c.address << ": " << problem.toStdString();
        } else {
            EXPECT_TRUE(problem.startsWith(QString::fromUtf8(c.problemStart)))
                << c.address << ": " << problem.toStdString();
            EXPECT_TRUE(problem.contains("http://127.0.0.1:8080/v1")) << "shows an example";
        }
    }
}

TEST(ModelServerTest, OnlyAServerElsewhereAsksForAKeyUntilThePersonGoesOnWithoutOne) {
    const struct {
        std::optional<std::string> address;
        std::optional<std::string> withoutKeyFor;
        bool hasKey;
        bool asks;
    } cases[] = {
        {std::nullopt, std::nullopt, false, false},
        {"  ", std::nullopt, false, false},
        {"http://127.0.0.1:8080/v1", std::nullopt, false, false},
        {"http://127.1.2.3:8080/v1", std::nullopt, false, false},
        {"http://LOCALHOST:11434/v1", std::nullopt, false, false},
        {"http://ollama.localhost/v1", std::nullopt, false, false},
        {"http://[::1]:8080/v1", std::nullopt, false, false},
        {"127.0.0.1:8080/v1", std::nullopt, false, false},
        {"https://api.veyrlink.com/v1", std::nullopt, false, true},
        {"http://192.168.1.20:8080/v1", std::nullopt, false, true},
        {"http://localhost.example.com/v1", std::nullopt, false, true},
        {"http://[::2]:8080/v1", std::nullopt, false, true},
        {"https://models.example.com/v1", std::nullopt, true, false},
        // The choice holds for the address it was made for, not another.
        {"https://models.example.com/v1", "https://models.example.com/v1", false, false},
        {" https://models.example.com/v1 ", "https://models.example.com/v1", false, false},
        {"https://other.example.com/v1", "https://models.example.com/v1", false, true},
    };
    for (const auto& c : cases) {
        AppConfig settings;
        settings.modelServerAddress = c.address;
        settings.serverWithoutKey = c.withoutKeyFor;
        EXPECT_EQ(ModelServer::asksForKey(settings, c.hasKey), c.asks)
            << c.address.value_or("(none)") << " without key for "
            << c.withoutKeyFor.value_or("(none)") << " key " << c.hasKey;
    }
}

TEST(ModelServerTest, TheAnswerSourceNamesTheModelAndServerOrTheIndex) {
    const struct {
        const char* name;
        std::optional<std::string> address;
        std::optional<std::string> model;
        bool hasKey;
        std::optional<std::string> environmentAddress;
        std::optional<std::string> environmentModel;
        const char* expected;
    } cases[] = {
        {"no key, no server: the index", std::nullopt, std::nullopt, false, std::nullopt,
         std::nullopt,
         "Answers come from your indexed messages. Add an API key in Settings for written "
         "answers from a language model."},
        {"a key: the gateway's default model", std::nullopt, std::nullopt, true, std::nullopt,
         std::nullopt, "Answers come from openai/gpt-4o-mini on Veyrlink."},
        {"a local server needs no key", "http://127.0.0.1:8080/v1", " qwen2.5 ", false,
         std::nullopt, std::nullopt, "Answers come from qwen2.5 on 127.0.0.1:8080."},
        {"the environment wins", "http://127.0.0.1:8080/v1", "qwen2.5", false,
         "https://models.example.com/v1", "llama",
         "Answers come from llama on models.example.com."},
        {"a blank environment does not", "http://127.0.0.1:8080/v1", "qwen2.5", false, " ", "",
         "Answers come from qwen2.5 on 127.0.0.1:8080."},
    };
    for (const auto& c : cases) {
        AppConfig settings;
        settings.modelServerAddress = c.address;
        settings.modelName = c.model;
        EXPECT_EQ(ModelServer::answerSourceText(settings, c.hasKey, c.environmentAddress,
                                                c.environmentModel)
                      .toStdString(),
                  c.expected)
            << c.name;
    }
}

TEST(ModelServerTest, MessagesAreEmbeddedOnlyByAModelServerThePersonNamed) {
    using Source = ModelServer::EmbeddingSource;
    using Environment = std::map<std::string, std::string>;
    const struct {
        const char* what;
        std::optional<std::string> address;
        std::optional<std::string> embeddingModel;
        Environment environment;
        std::optional<Source> expected;
    } cases[] = {
        {"no server: nothing goes to the gateway", std::nullopt, std::nullopt, {}, std::nullopt},
        {"a blank address", "  ", std::nullopt, {{"VEYRLINK_BASE_URL", " "}}, std::nullopt},
        {"a server on this machine gets no key",
         " http://127.0.0.1:8080/v1 ",
         std::nullopt,
         {},
         Source{"http://127.0.0.1:8080/v1", "", ModelServer::kDefaultEmbeddingModel}},
        {"a server elsewhere gets the saved key",
         "https://models.example.com/v1",
         "bge-small",
         {{"VEYRLINK_API_KEY", "sk-env"}},
         Source{"https://models.example.com/v1", "sk-saved", "bge-small"}},
        {"the environment wins",
         "http://127.0.0.1:8080/v1",
         "bge-small",
         {{"VEYRLINK_BASE_URL", "http://localhost:11434/v1"},
          {"ORLUNE_EMBEDDING_MODEL", "nomic-embed-text:v1.5"}},
         Source{"http://localhost:11434/v1", "", "nomic-embed-text:v1.5"}},
    };
    for (const auto& c : cases) {
        AppConfig settings;
        settings.modelServerAddress = c.address;
        settings.embeddingModel = c.embeddingModel;
        settings.veyrlinkApiKey = "sk-saved";
        EXPECT_EQ(ModelServer::embeddingSource(settings, c.environment), c.expected) << c.what;
    }
    AppConfig keyless;
    keyless.modelServerAddress = "https://models.example.com/v1";
    EXPECT_EQ(ModelServer::embeddingSource(keyless, {{"VEYRLINK_API_KEY", "sk-env"}})->apiKey,
              "sk-env");
}

} // namespace
} // namespace orlune::testing
