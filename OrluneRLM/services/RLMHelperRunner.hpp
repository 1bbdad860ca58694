#pragma once
// The application's side of the helper boundary: one helper process per
// question, one JSON request in, one JSON response out.

#include "services/AppConfig.hpp"
#include "services/ProcessLauncher.hpp"
#include "services/ProcessStop.hpp"
#include "services/StructuredLogger.hpp"
#include "sessions/AnswerSource.hpp"
#include "sessions/CitedMessage.hpp"

#include <chrono>
#include <cstddef>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace orlune::rlm {

// One earlier turn passed to the helper: the role's raw value and the text.
struct HostConversationMessage {
    std::string role;
    std::string text;
    bool operator==(const HostConversationMessage&) const = default;
};

struct HelperResult {
    std::string answer;                             // trimmed; never empty
    std::optional<std::string> conversationSummary; // as received
    std::vector<CitedMessage> messages;             // the optional "messages", in order
    std::optional<std::string> model;               // the model that answered; none for an
                                                    // answer from the index alone
    AnswerSource source = AnswerSource::unknown;    // what "model" says of who answered
    bool operator==(const HelperResult&) const = default;
};

// An immutable value, built once and copied freely; run() may be called any
// number of times, from any thread (including several at once), each call
// with its own process and pipes. The helper command, resource folder and API
// key are fixed at construction.
class RLMHelperRunner {
public:
    using EnvironmentMap = std::map<std::string, std::string>;

    // What tests (and benchmarks) replace. Every member has a default.
    struct Seams {
        // The resources folder holding "rlm/orlune-rlm-helper"; when absent,
        // defaultResourcesFolder() is asked.
        std::optional<std::string> resourcesFolder;
        // The application's live environment, read at every run() (for
        // ORLUNE_RLM_MODEL and as the helper's base environment); the
        // process environment when empty.
        std::function<EnvironmentMap()> liveEnvironment;
        // Starts the helper; ProcessLauncher::system() when null.
        std::shared_ptr<const ProcessLauncher> launcher;
        // Where the runner's events go.
        StructuredLogger logger{StructuredLogger::kBundleIdentifier,
                                StructuredLogger::kHelperCategory};
        // How long a helper may run; helperTimeLimit() of the live
        // environment when absent.
        std::optional<std::chrono::milliseconds> timeLimit;
    };

    // The most the runner holds of each of the helper's standard output and
    // standard error, as the helper bounds the request it reads.
    static constexpr std::size_t kMaxOutputBytes = 16 * 1024 * 1024;
    // The helper's own deadline when ORLUNE_RLM_DEADLINE_SECONDS does not set
    // one.
    static constexpr double kDefaultHelperDeadlineSeconds = 300;

    // Resolves the helper and the key from `env` (the process environment at
    // the chat model's construction): the key is `apiKey` when given (even if
    // blank), else VEYRLINK_API_KEY, else none. A non-blank
    // ORLUNE_RLM_HELPER_CMD is run through a login shell, with
    // ORLUNE_RLM_RESOURCE_ROOT (trimmed) as resource folder; otherwise, in a
    // macOS app bundle, the helper beside the executable in Contents/MacOS
    // (where signing expects programs; the application and the command-line
    // tool both live there), else the resource helper rlm/orlune-rlm-helper.
    // Throws RLMHelperError (missingBundledHelper) when there is none.
    RLMHelperRunner(std::optional<std::string> apiKey, const EnvironmentMap& env);
    RLMHelperRunner(std::optional<std::string> apiKey, const EnvironmentMap& env, Seams seams);

    // The same, with the key, model server address and model name of the
    // saved configuration (what the application and `orlune ask` use).
    // Precedence, read at every run(): a non-blank VEYRLINK_BASE_URL in the
    // live environment over the saved address, a non-blank ORLUNE_RLM_MODEL
    // over the saved model name; with neither, the helper's defaults (the
    // Veyrlink gateway and its default model).
    RLMHelperRunner(const AppConfig& config, const EnvironmentMap& env);
    RLMHelperRunner(const AppConfig& config, const EnvironmentMap& env, Seams seams);

    // Answers one question about the shadow database at `dbPath`, given the
    // earlier turns (oldest first) and the running summary. Blocks the
    // calling thread until the helper has exited; call it off the GUI thread
    // (e.g. through QtConcurrent::run). Throws RLMHelperError,
    // ProcessLauncher::LaunchError when the helper cannot start, or
    // nlohmann::json's error when the request cannot be encoded.
    //
    // The helper is ended, with everything it started (its process group),
    // and the run fails with an RLMHelperError saying why, when it runs past
    // the time limit (timedOut), writes more than kMaxOutputBytes to either
    // stream (outputTooLarge), or `stop` is requested (cancelled: the user's
    // Cancel, or a signal); each of these also logs "rlm_helper_stopped".
    // Text a login shell printed before the response is skipped and logged
    // as "rlm_helper_output_skipped" (its size, never its content).
    HelperResult run(const std::string& question, const std::string& dbPath,
                     const std::vector<HostConversationMessage>& conversationMessages = {},
                     const std::optional<std::string>& conversationSummary = std::nullopt,
                     std::shared_ptr<ProcessStop> stop = nullptr) const;

    // The helper's answer from the index alone, without a model (the
    // request's "index_only"): quick, and shown while a model works on its
    // answer. Needs no key; fails as run() does.
    HelperResult answerFromIndex(const std::string& question, const std::string& dbPath,
                                 std::shared_ptr<ProcessStop> stop = nullptr) const;

    // Whether run() will have a model answer (rather than the index alone),
    // with the live environment as it is now: a key is set, or the model
    // server is on this machine (which needs none).
    bool asksAModel() const;

    // Introspection of what construction resolved.
    bool usesShellCommand() const { return std::holds_alternative<ShellCommand>(command_); }
    // The helper file (direct mode) or the command line (shell mode).
    std::string commandText() const;
    const std::optional<std::string>& resourceRoot() const { return resourceRoot_; }
    const std::optional<std::string>& apiKey() const { return apiKey_; }
    const std::optional<std::string>& savedModelServerAddress() const { return savedAddress_; }
    const std::optional<std::string>& savedModelName() const { return savedModel_; }

    // The value of the variable `name` in `environment` when it is not blank
    // (trimmed), else `saved` when it is not blank (trimmed), else none.
    static std::optional<std::string> preferEnvironment(const EnvironmentMap& environment,
                                                        const char* name,
                                                        const std::optional<std::string>& saved);

    // The request document: compact JSON, keys in the order api_key,
    // question, db_path, model, base_url, verbose, index_only,
    // conversation_messages, conversation_summary; api_key, model, base_url,
    // index_only (when false), the turns (when empty) and the summary are
    // left out when absent.
    static std::string
    encodeRequest(const std::optional<std::string>& apiKey, const std::string& question,
                  const std::string& dbPath, const std::optional<std::string>& model,
                  const std::vector<HostConversationMessage>& conversationMessages,
                  const std::optional<std::string>& conversationSummary,
                  const std::optional<std::string>& baseUrl = std::nullopt, bool indexOnly = false);

    // Turns the helper's trimmed standard output into a result. Throws
    // RLMHelperError (decodeFailure, processFailure for an "error" object,
    // emptyOutput). The optional "messages" (the messages the answer relies
    // on) is read with CitedMessage::listFromJson: absent or malformed
    // entries are left out, never a failure. The optional "model" says who
    // answered: a non-blank string names the model (kept trimmed, source
    // model), null is an answer from the index alone (source index); absent
    // or any other value leaves the source unknown.
    static HelperResult decodeResponse(const std::string& output);

    // Where the response object starts in the helper's trimmed standard
    // output: after the lines a login shell's profile printed before it, the
    // start of the last line that begins with '{' from which the rest is one
    // JSON object. 0 when the whole output is the response, and when no
    // response is found (decoding then fails on the whole output).
    static std::size_t responseStart(const std::string& output);

    // How long a helper may run before the runner ends it: the helper's own
    // deadline (ORLUNE_RLM_DEADLINE_SECONDS in `environment` when it is a
    // positive number of seconds, else kDefaultHelperDeadlineSeconds; at most
    // a day) plus a tenth of it and 2 s, time for a helper that stopped
    // itself to write its reply.
    static std::chrono::milliseconds helperTimeLimit(const EnvironmentMap& environment);

    // Fills in the variables the bundled Python runtime under
    // `resourceRoot`/python needs, each only when not already set: on macOS
    // DYLD_FRAMEWORK_PATH and DYLD_LIBRARY_PATH, elsewhere LD_LIBRARY_PATH
    // (following DYLD_LIBRARY_PATH's rule); PYTHONHOME; PYTHONPATH.
    static void applyBundledPythonEnv(const std::string& resourceRoot, EnvironmentMap& environment);

    // The first of these folders holding rlm/orlune-rlm-helper: on macOS the
    // bundle's Contents/Resources; "../share/orlune" beside the executable;
    // the build tree's resources folder. Absent when none does.
    static std::optional<std::string> defaultResourcesFolder();

    // "<executableFolder>/orlune-rlm-helper" when `executableFolder` is the
    // Contents/MacOS folder of an app bundle and the helper is there; absent
    // otherwise. Used on macOS only.
    static std::optional<std::string> helperInBundle(const std::string& executableFolder);

    // The shell for ORLUNE_RLM_HELPER_CMD: /bin/zsh where present, else the
    // user's login shell, else /bin/sh. It is started with "-lc".
    static std::string loginShell();

    // The process environment as a map.
    static EnvironmentMap processEnvironment();

private:
    // Runs the helper on `request` with `environment` as its base.
    HelperResult runRequest(const std::string& request, EnvironmentMap environment,
                            std::shared_ptr<ProcessStop> stop) const;

    struct DirectCommand {
        std::string executable;
    };
    struct ShellCommand {
        std::string commandLine;
    };

    std::variant<DirectCommand, ShellCommand> command_;
    std::optional<std::string> resourceRoot_;
    std::optional<std::string> apiKey_;
    std::optional<std::string> savedAddress_;
    std::optional<std::string> savedModel_;
    Seams seams_;
};

} // namespace orlune::rlm
