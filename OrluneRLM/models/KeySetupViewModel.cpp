#include "models/KeySetupViewModel.hpp"

#include "base/Gateway.hpp"
#include "services/ModelServer.hpp"
#include "services/TextTrimming.hpp"

#include <QUrl>
#include <exception>

namespace orlune::rlm {

KeySetupViewModel::KeySetupViewModel(ConfigManager& config, QObject* parent)
    : QObject(parent), config_(config),
      serverAddress_(ModelServer::configuredAddress(config.loadWithoutCredentials())) {}

void KeySetupViewModel::setApiKey(const QString& text) {
    if (apiKey_ != text) {
        apiKey_ = text;
        emit changed();
    }
}

bool KeySetupViewModel::canSave() const {
    return !isSaving_ && !trimmedText(apiKey_.toStdString()).empty();
}

bool KeySetupViewModel::asksForGatewayKey() const {
    return serverAddress_.isEmpty() ||
           QUrl::fromUserInput(serverAddress_).host() ==
               QUrl(QString::fromLatin1(core::gateway::kDefaultAPIBaseURL)).host();
}

QString KeySetupViewModel::promptText() const {
    if (asksForGatewayKey()) {
        return QStringLiteral("Enter your Veyrlink API key for written answers from a language "
                              "model. Without one, Orlune answers from your indexed messages "
                              "alone.");
    }
    return QStringLiteral("The model server at %1 may need an API key: enter it here. Without "
                          "one, the server answers if it lets you in, and otherwise Orlune "
                          "answers from your indexed messages alone.")
        .arg(QUrl::fromUserInput(serverAddress_).host());
}

void KeySetupViewModel::save() {
    const std::string key = trimmedText(apiKey_.toStdString());
    if (key.empty()) {
        errorMessage_ = QStringLiteral("API key cannot be empty");
        emit changed();
        return;
    }
    isSaving_ = true;
    errorMessage_.clear();
    emit changed();
    try {
        AppConfig configuration = config_.load();
        configuration.veyrlinkApiKey = key;
        config_.save(configuration);
    } catch (const std::exception& error) {
        errorMessage_ = QStringLiteral("Failed to save: ") + QString::fromUtf8(error.what());
        isSaving_ = false;
        emit changed();
        return;
    }
    isComplete_ = true;
    emit changed();
    emit completed();
}

void KeySetupViewModel::continueWithoutKey() {
    if (!serverAddress_.isEmpty()) {
        try {
            AppConfig configuration = config_.load();
            configuration.serverWithoutKey = serverAddress_.toStdString();
            config_.save(configuration);
        } catch (const std::exception&) {
            // The manager logged it; this run goes on without a key anyway.
        }
    }
    emit continuedWithoutKey();
}

} // namespace orlune::rlm
