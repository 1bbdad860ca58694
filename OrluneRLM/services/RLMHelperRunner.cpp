#include "services/RLMHelperRunner.hpp"

#include "base/Environment.hpp"
#include "base/SystemDifferences.hpp"
#include "base/Utf8.hpp"
#include "services/ModelServer.hpp"
#include "services/RLMHelperError.hpp"
#include "services/TextTrimming.hpp"

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <pwd.h>
#include <system_error>
#include <unistd.h>

extern char** environ;

namespace orlune::rlm {

namespace {

constexpr const char* kHelperFolder = "rlm";
constexpr const char* kHelperName = "orlune-rlm-helper";

std::optional<std::string> lookup(const RLMHelperRunner::EnvironmentMap& env,
                                  const std::string& name) {
    const auto found = env.find(name);
    if (found == env.end()) {
        return std::nullopt;
    }
    return found->second;
}

std::optional<std::string> executableFolder() {
    const std::optional<std::string> path = core::executablePath();
    if (!path) {
        return std::nullopt;
    }
    return std::filesystem::path(*path).parent_path().string();
}

std::string optionalText(const nlohmann::json& object, const char* key) {
    const auto found = object.find(key);
    if (found == object.end() || found->is_null()) {
        return {};
    }
    if (!found->is_string()) {
        throw RLMHelperError::decodeFailure(std::string("the value of \"") + key +
                                            "\" is not a string");
    }
    return found->get<std::string>();
}

} // namespace

RLMHelperRunner::RLMHelperRunner(std::optional<std::string> apiKey, const EnvironmentMap& env)
    : RLMHelperRunner(std::move(apiKey), env, Seams()) {}

RLMHelperRunner::RLMHelperRunner(std::optional<std::string> apiKey, const EnvironmentMap& env,
                                 Seams seams)
    : seams_(std::move(seams)) {
    apiKey_ = apiKey ? std::move(apiKey) : lookup(env, "VEYRLINK_API_KEY");

    if (const auto command = lookup(env, "ORLUNE_RLM_HELPER_CMD")) {
        std::string commandLine = trimmedText(*command);
        if (!commandLine.empty()) {
            command_ = ShellCommand{std::move(commandLine)};
            if (const auto root = lookup(env, "ORLUNE_RLM_RESOURCE_ROOT")) {
                resourceRoot_ = trimmedText(*root);
            }
            return;
        }
    }

#ifdef __APPLE__
    if (!seams_.resourcesFolder) {
        const std::optional<std::string> folder = executableFolder();
        if (const auto helper = folder ? helperInBundle(*folder) : std::nullopt) {
            command_ = DirectCommand{*helper};
            resourceRoot_ = core::joinPath(core::joinPath(*folder, "../Resources"), kHelperFolder);
            return;
        }
    }
#endif
    const std::optional<std::string> resources =
        seams_.resourcesFolder ? seams_.resourcesFolder : defaultResourcesFolder();
    if (!resources) {
        throw RLMHelperError::missingBundledHelper();
    }
    const std::string helperFolder = core::joinPath(*resources, kHelperFolder);
    const std::string helper = core::joinPath(helperFolder, kHelperName);
    if (!core::pathExists(helper)) {
        throw RLMHelperError::missingBundledHelper();
    }
    command_ = DirectCommand{helper};
    resourceRoot_ = helperFolder;
}

RLMHelperRunner::RLMHelperRunner(const AppConfig& config, const EnvironmentMap& env)
    : RLMHelperRunner(config, env, Seams()) {}

RLMHelperRunner::RLMHelperRunner(const AppConfig& config, const EnvironmentMap& env, Seams seams)
    : RLMHelperRunner(config.veyrlinkApiKey, env, std::move(seams)) {
    savedAddress_ = config.modelServerAddress;
    savedModel_ = config.modelName;
}

std::optional<std::string>
RLMHelperRunner::preferEnvironment(const EnvironmentMap& environment, const char* name,
                                   const std::optional<std::string>& saved) {
    if (const auto value = lookup(environment, name)) {
        std::string text = trimmedText(*value);
        if (!text.empty()) {
            return text;
        }
    }
    if (saved) {
        std::string text = trimmedText(*saved);
        if (!text.empty()) {
            return text;
        }
    }
    return std::nullopt;
}

std::string RLMHelperRunner::commandText() const {
    if (const auto* shell = std::get_if<ShellCommand>(&command_)) {
        return shell->commandLine;
    }
    return std::get<DirectCommand>(command_).executable;
}

HelperResult RLMHelperRunner::run(const std::string& question, const std::string& dbPath,
                                  const std::vector<HostConversationMessage>& conversationMessages,
                                  const std::optional<std::string>& conversationSummary,
                                  std::shared_ptr<ProcessStop> stop) const {
    if (!core::pathExists(dbPath)) {
        throw RLMHelperError::shadowDBMissing();
    }
    EnvironmentMap environment =
        seams_.liveEnvironment ? seams_.liveEnvironment() : processEnvironment();
    const std::optional<std::string> model =
        preferEnvironment(environment, "ORLUNE_RLM_MODEL", savedModel_);
    const std::optional<std::string> baseUrl =
        preferEnvironment(environment, "VEYRLINK_BASE_URL", savedAddress_);
    const std::string request = encodeRequest(apiKey_, question, dbPath, model,
                                              conversationMessages, conversationSummary, baseUrl);
    return runRequest(request, std::move(environment), std::move(stop));
}

HelperResult RLMHelperRunner::answerFromIndex(const std::string& question,
                                              const std::string& dbPath,
                                              std::shared_ptr<ProcessStop> stop) const {
    if (!core::pathExists(dbPath)) {
        throw RLMHelperError::shadowDBMissing();
    }
    // Neither the key nor the server goes to a run that asks no model.
    const std::string request = encodeRequest(std::nullopt, question, dbPath, std::nullopt, {},
                                              std::nullopt, std::nullopt, true);
    return runRequest(request,
                      seams_.liveEnvironment ? seams_.liveEnvironment() : processEnvironment(),
                      std::move(stop));
}

bool RLMHelperRunner::asksAModel() const {
    if (apiKey_ && !trimmedText(*apiKey_).empty()) {
        return true;
    }
    const std::optional<std::string> baseUrl =
        preferEnvironment(seams_.liveEnvironment ? seams_.liveEnvironment() : processEnvironment(),
                          "VEYRLINK_BASE_URL", savedAddress_);
    return baseUrl && ModelServer::isOnThisMachine(QString::fromStdString(*baseUrl));
}

HelperResult RLMHelperRunner::runRequest(const std::string& request, EnvironmentMap environment,
                                         std::shared_ptr<ProcessStop> stop) const {
    seams_.logger.info("rlm_helper_start", {{"command_configured", "true"}});

    ProcessSpec launch;
    if (const auto* shell = std::get_if<ShellCommand>(&command_)) {
        launch.executable = loginShell();
        launch.arguments = {"-lc", shell->commandLine};
    } else {
        launch.executable = std::get<DirectCommand>(command_).executable;
    }
    if (resourceRoot_ && !resourceRoot_->empty()) {
        environment["ORLUNE_RLM_RESOURCE_ROOT"] = *resourceRoot_;
        applyBundledPythonEnv(*resourceRoot_, environment);
    }
    launch.timeLimit = seams_.timeLimit ? *seams_.timeLimit : helperTimeLimit(environment);
    launch.maxOutputBytes = kMaxOutputBytes;
    launch.stop = std::move(stop);
    launch.environment = std::move(environment);

    const ProcessLauncher& launcher =
        seams_.launcher ? *seams_.launcher : ProcessLauncher::system();
    const ProcessOutcome outcome = launcher.run(launch, request);

    using Ending = ProcessOutcome::Ending;
    if (outcome.ending != Ending::exited) {
        const char* reason = outcome.ending == Ending::timeLimit          ? "time_limit"
                             : outcome.ending == Ending::outputLimit      ? "output_limit"
                             : outcome.ending == Ending::errorOutputLimit ? "error_output_limit"
                                                                          : "cancelled";
        seams_.logger.warning("rlm_helper_stopped", {{"reason", reason}});
        switch (outcome.ending) {
        case Ending::timeLimit:
            throw RLMHelperError::timedOut(static_cast<double>(launch.timeLimit.count()) / 1000.0);
        case Ending::outputLimit:
        case Ending::errorOutputLimit:
            throw RLMHelperError::outputTooLarge(kMaxOutputBytes,
                                                 outcome.ending == Ending::errorOutputLimit);
        default:
            throw RLMHelperError::cancelled();
        }
    }

    // The exit status is judged before the output: a failed helper's output
    // is never read, even when it looks like a response.
    if (outcome.exitStatus != 0) {
        const std::string standardError = core::utf8::isValid(outcome.standardError)
                                              ? trimmedText(outcome.standardError)
                                              : std::string();
        throw RLMHelperError::processFailure(outcome.exitStatus, standardError);
    }
    const std::string output = core::utf8::isValid(outcome.standardOutput)
                                   ? trimmedText(outcome.standardOutput)
                                   : std::string();
    if (output.empty()) {
        throw RLMHelperError::emptyOutput();
    }
    const size_t start = responseStart(output);
    if (start > 0) {
        const auto lines =
            std::count(output.begin(), output.begin() + static_cast<long>(start), '\n');
        seams_.logger.warning(
            "rlm_helper_output_skipped",
            {{"skipped_bytes", std::to_string(start)}, {"skipped_lines", std::to_string(lines)}});
    }
    return decodeResponse(start > 0 ? output.substr(start) : output);
}

size_t RLMHelperRunner::responseStart(const std::string& output) {
    if (nlohmann::json::accept(output)) {
        return 0;
    }
    // The response is what the helper wrote last, so it is looked for from
    // the end; a few candidates are enough for any profile's chatter.
    constexpr int kMaxCandidates = 32;
    size_t newline = output.rfind("\n{");
    for (int tried = 0; newline != std::string::npos && tried < kMaxCandidates; ++tried) {
        const size_t start = newline + 1;
        const nlohmann::json document = nlohmann::json::parse(
            output.begin() + static_cast<long>(start), output.end(), nullptr, false);
        if (!document.is_discarded() && document.is_object()) {
            return start;
        }
        if (newline == 0) {
            break;
        }
        newline = output.rfind("\n{", newline - 1);
    }
    return 0;
}

std::chrono::milliseconds RLMHelperRunner::helperTimeLimit(const EnvironmentMap& environment) {
    double seconds = kDefaultHelperDeadlineSeconds;
    // Read as the helper reads it, so that both agree on the deadline.
    if (const auto value = lookup(environment, "ORLUNE_RLM_DEADLINE_SECONDS")) {
        try {
            size_t used = 0;
            const double given = std::stod(*value, &used);
            if (used == value->size() && std::isfinite(given) && given > 0) {
                seconds = given;
            }
        } catch (const std::exception&) {
            // Not a number: the helper ignores it too.
        }
    }
    seconds = std::min(seconds, 86400.0);
    return std::chrono::milliseconds(static_cast<int64_t>((seconds * 1.1 + 2.0) * 1000.0));
}

std::string
RLMHelperRunner::encodeRequest(const std::optional<std::string>& apiKey,
                               const std::string& question, const std::string& dbPath,
                               const std::optional<std::string>& model,
                               const std::vector<HostConversationMessage>& conversationMessages,
                               const std::optional<std::string>& conversationSummary,
                               const std::optional<std::string>& baseUrl, bool indexOnly) {
    nlohmann::ordered_json request = nlohmann::ordered_json::object();
    if (apiKey) {
        request["api_key"] = *apiKey;
    }
    // Texts go to the helper as well-formed UTF-8 (a terminal may pass any
    // bytes); the path stays as it is, since it names a file.
    request["question"] = core::utf8::sanitize(question);
    request["db_path"] = dbPath;
    if (model) {
        request["model"] = *model;
    }
    if (baseUrl) {
        request["base_url"] = *baseUrl;
    }
    // "max_depth" and "max_calls" are never set by the application.
    request["verbose"] = false;
    if (indexOnly) {
        request["index_only"] = true;
    }
    if (!conversationMessages.empty()) {
        nlohmann::ordered_json turns = nlohmann::ordered_json::array();
        for (const HostConversationMessage& message : conversationMessages) {
            turns.push_back(nlohmann::ordered_json{{"role", message.role},
                                                   {"text", core::utf8::sanitize(message.text)}});
        }
        request["conversation_messages"] = std::move(turns);
    }
    if (conversationSummary) {
        request["conversation_summary"] = core::utf8::sanitize(*conversationSummary);
    }
    return request.dump();
}

HelperResult RLMHelperRunner::decodeResponse(const std::string& output) {
    nlohmann::json response;
    try {
        response = nlohmann::json::parse(output);
    } catch (const nlohmann::json::parse_error& error) {
        throw RLMHelperError::decodeFailure(error.what());
    }
    if (!response.is_object()) {
        throw RLMHelperError::decodeFailure("the response is not a JSON object");
    }

    // Every field is checked before any is acted on, so a malformed field
    // fails the whole response, as one decoding step would.
    std::optional<std::pair<std::string, std::string>> helperError;
    if (const auto error = response.find("error"); error != response.end() && !error->is_null()) {
        if (!error->is_object()) {
            throw RLMHelperError::decodeFailure("the value of \"error\" is not an object");
        }
        for (const char* key : {"type", "message"}) {
            const auto field = error->find(key);
            if (field == error->end() || field->is_null()) {
                throw RLMHelperError::decodeFailure(std::string("the key \"") + key +
                                                    "\" of \"error\" is missing");
            }
            if (!field->is_string()) {
                throw RLMHelperError::decodeFailure(std::string("the value of \"error.") + key +
                                                    "\" is not a string");
            }
        }
        helperError.emplace((*error)["type"].get<std::string>(),
                            (*error)["message"].get<std::string>());
    }
    const std::string answer = optionalText(response, "answer");
    std::optional<std::string> summary;
    if (const auto found = response.find("conversationSummary");
        found != response.end() && !found->is_null()) {
        summary = optionalText(response, "conversationSummary");
    }

    if (helperError) {
        throw RLMHelperError::processFailure(1, helperError->first + ": " + helperError->second);
    }
    std::string trimmedAnswer = trimmedText(answer);
    if (trimmedAnswer.empty()) {
        throw RLMHelperError::emptyOutput();
    }
    std::vector<CitedMessage> cited;
    if (const auto found = response.find("messages"); found != response.end()) {
        cited = CitedMessage::listFromJson(*found);
    }
    std::optional<std::string> model;
    AnswerSource source = AnswerSource::unknown;
    if (const auto found = response.find("model"); found != response.end()) {
        if (found->is_null()) {
            source = AnswerSource::index;
        } else if (found->is_string()) {
            if (std::string name = trimmedText(found->get<std::string>()); !name.empty()) {
                model = std::move(name);
                source = AnswerSource::model;
            }
        }
    }
    return HelperResult{std::move(trimmedAnswer), std::move(summary), std::move(cited),
                        std::move(model), source};
}

void RLMHelperRunner::applyBundledPythonEnv(const std::string& resourceRoot,
                                            EnvironmentMap& environment) {
    const std::string python = core::joinPath(resourceRoot, "python");
    const std::string versions =
        core::joinPath(core::joinPath(python, "Python.framework"), "Versions");

    std::optional<std::string> home;
    std::optional<std::string> library;
    std::error_code error;
    std::vector<std::string> names;
    for (std::filesystem::directory_iterator it(versions, error), end; !error && it != end;
         it.increment(error)) {
        names.push_back(it->path().filename().string());
    }
    if (!error) {
        std::sort(names.begin(), names.end());
        for (const std::string& name : names) {
            if (name != "Current" && name.find('.') != std::string::npos) {
                home = versions + "/" + name;
                library = *home + "/lib";
                break;
            }
        }
    }

#ifdef __APPLE__
    environment.try_emplace("DYLD_FRAMEWORK_PATH", python);
    const char* libraryVariable = "DYLD_LIBRARY_PATH";
#else
    const char* libraryVariable = "LD_LIBRARY_PATH";
#endif
    if (library) {
        environment.try_emplace(libraryVariable, *library);
    }
    if (home) {
        environment.try_emplace("PYTHONHOME", *home);
    }
    if (environment.count("PYTHONPATH") != 0) {
        return;
    }
    std::string pythonPath;
    for (const std::string& candidate :
         {core::joinPath(resourceRoot, "orl-rlm/src"), core::joinPath(resourceRoot, "vendor"),
          core::joinPath(python, "site-packages")}) {
        if (core::pathExists(candidate)) {
            if (!pythonPath.empty()) {
                pythonPath += ':';
            }
            pythonPath += candidate;
        }
    }
    if (!pythonPath.empty()) {
        environment["PYTHONPATH"] = pythonPath;
    }
}

std::optional<std::string> RLMHelperRunner::defaultResourcesFolder() {
    std::vector<std::string> candidates;
    if (const auto folder = executableFolder()) {
#ifdef __APPLE__
        candidates.push_back(core::joinPath(*folder, "../Resources"));
#endif
        candidates.push_back(core::joinPath(*folder, "../share/orlune"));
    }
#ifdef ORLUNE_BUILD_RESOURCES_DIR
    candidates.emplace_back(ORLUNE_BUILD_RESOURCES_DIR);
#endif
    for (const std::string& candidate : candidates) {
        if (core::pathExists(
                core::joinPath(core::joinPath(candidate, kHelperFolder), kHelperName))) {
            std::error_code error;
            const auto canonical = std::filesystem::weakly_canonical(candidate, error);
            return error ? candidate : canonical.string();
        }
    }
    return std::nullopt;
}

std::optional<std::string> RLMHelperRunner::helperInBundle(const std::string& executableFolder) {
    std::filesystem::path folder = std::filesystem::path(executableFolder).lexically_normal();
    if (!folder.has_filename()) {
        folder = folder.parent_path(); // a trailing '/'
    }
    const std::filesystem::path contents = folder.parent_path();
    if (folder.filename() != "MacOS" || contents.filename() != "Contents" ||
        contents.parent_path().extension() != ".app") {
        return std::nullopt;
    }
    const std::string helper = (folder / kHelperName).string();
    if (!core::pathExists(helper)) {
        return std::nullopt;
    }
    return helper;
}

std::string RLMHelperRunner::loginShell() {
    if (::access("/bin/zsh", X_OK) == 0) {
        return "/bin/zsh";
    }
    if (const passwd* entry = ::getpwuid(::getuid());
        entry != nullptr && entry->pw_shell != nullptr && entry->pw_shell[0] == '/' &&
        ::access(entry->pw_shell, X_OK) == 0) {
        return entry->pw_shell;
    }
    return "/bin/sh";
}

RLMHelperRunner::EnvironmentMap RLMHelperRunner::processEnvironment() {
    EnvironmentMap environment;
    for (char** entry = environ; entry != nullptr && *entry != nullptr; ++entry) {
        const std::string text(*entry);
        const size_t equals = text.find('=');
        if (equals == std::string::npos || equals == 0) {
            continue;
        }
        environment.emplace(text.substr(0, equals), text.substr(equals + 1));
    }
    return environment;
}

} // namespace orlune::rlm
