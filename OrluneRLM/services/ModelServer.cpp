#include "services/ModelServer.hpp"

#include "base/Gateway.hpp"
#include "services/TextTrimming.hpp"

#include <QHostAddress>
#include <QUrl>

namespace orlune::rlm {

namespace {

QString trimmed(const std::optional<std::string>& text) {
    return text ? QString::fromStdString(trimmedText(*text)) : QString();
}

// The server's name as a person knows it: the host, with its port when given.
QString serverName(const QString& address) {
    const QUrl url = QUrl::fromUserInput(address);
    if (url.host().isEmpty()) {
        return address;
    }
    return url.port() > 0 ? url.host() + QStringLiteral(":") + QString::number(url.port())
                          : url.host();
}

} // namespace

QString ModelServer::addressProblem(const QString& address) {
    const QString text = address.trimmed();
    if (text.isEmpty()) {
        return {};
    }
    const QString example = QStringLiteral(" (for example http://127.0.0.1:8080/v1)");
    const QUrl url(text, QUrl::StrictMode);
    const bool hasScheme = text.contains(QStringLiteral("://"));
    if (hasScheme && (!url.isValid() || text.contains(QLatin1Char(' ')))) {
        return QStringLiteral("The server address is not a web address") + example + ".";
    }
    const QString scheme = url.scheme().toLower();
    if (!hasScheme || (scheme != QStringLiteral("http") && scheme != QStringLiteral("https"))) {
        if (text.contains(QLatin1Char(' '))) {
            return QStringLiteral("The server address is not a web address") + example + ".";
        }
        return QStringLiteral("The server address must start with http:// or https://") + example +
               ".";
    }
    if (url.host().isEmpty()) {
        return QStringLiteral("The server address has no server name") + example + ".";
    }
    return {};
}

bool ModelServer::isOnThisMachine(const QString& address) {
    const QString host = QUrl::fromUserInput(address.trimmed()).host();
    if (host.compare(QStringLiteral("localhost"), Qt::CaseInsensitive) == 0 ||
        host.endsWith(QStringLiteral(".localhost"), Qt::CaseInsensitive)) {
        return true;
    }
    const QHostAddress hostAddress(host);
    return !hostAddress.isNull() && hostAddress.isLoopback();
}

QString ModelServer::configuredAddress(const AppConfig& settings) {
    return trimmed(settings.modelServerAddress);
}

bool ModelServer::asksForKey(const AppConfig& settings, bool hasApiKey) {
    const QString address = configuredAddress(settings);
    if (hasApiKey || address.isEmpty() || isOnThisMachine(address)) {
        return false;
    }
    return trimmed(settings.serverWithoutKey) != address;
}

QString ModelServer::answerSourceText(const AppConfig& settings, bool hasApiKey,
                                      const std::optional<std::string>& environmentAddress,
                                      const std::optional<std::string>& environmentModel) {
    QString address = trimmed(environmentAddress);
    if (address.isEmpty()) {
        address = configuredAddress(settings);
    }
    QString model = trimmed(environmentModel);
    if (model.isEmpty()) {
        model = trimmed(settings.modelName);
    }
    if (model.isEmpty()) {
        model = QString::fromLatin1(core::gateway::kDefaultModel);
    }
    if (address.isEmpty()) {
        if (!hasApiKey) {
            return QStringLiteral("Answers come from your indexed messages. Add an API key in "
                                  "Settings for written answers from a language model.");
        }
        return QStringLiteral("Answers come from %1 on Veyrlink.").arg(model);
    }
    return QStringLiteral("Answers come from %1 on %2.").arg(model, serverName(address));
}

std::optional<ModelServer::EmbeddingSource>
ModelServer::embeddingSource(const AppConfig& settings,
                             const std::map<std::string, std::string>& environment) {
    const auto named = [&](const char* variable,
                           const std::optional<std::string>& saved) -> std::string {
        const auto set = environment.find(variable);
        if (set != environment.end() && !trimmedText(set->second).empty()) {
            return trimmedText(set->second);
        }
        return saved ? trimmedText(*saved) : std::string();
    };
    EmbeddingSource source;
    source.baseUrl = named("VEYRLINK_BASE_URL", settings.modelServerAddress);
    if (source.baseUrl.empty()) {
        return std::nullopt;
    }
    if (!isOnThisMachine(QString::fromStdString(source.baseUrl))) {
        source.apiKey = named("VEYRLINK_API_KEY", std::nullopt);
        if (settings.veyrlinkApiKey && !trimmedText(*settings.veyrlinkApiKey).empty()) {
            source.apiKey = trimmedText(*settings.veyrlinkApiKey);
        }
    }
    source.model = named("ORLUNE_EMBEDDING_MODEL", settings.embeddingModel);
    if (source.model.empty()) {
        source.model = kDefaultEmbeddingModel;
    }
    return source;
}

} // namespace orlune::rlm
