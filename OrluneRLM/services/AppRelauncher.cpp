#include "services/AppRelauncher.hpp"

#include <QFileInfo>
#include <QProcess>

namespace orlune::rlm {

namespace {

// Waits for the process whose id is $0 to end, then runs "$@".
constexpr const char* kWaitThenRun =
    "while kill -0 \"$0\" 2>/dev/null; do sleep 0.2; done; exec \"$@\"";

} // namespace

const QStringList& AppRelauncher::passedThroughVariables() {
    static const QStringList variables = {
        QStringLiteral("HOME"),
        QStringLiteral("ORLUNE_DATA_DIR"),
        QStringLiteral("XDG_DATA_HOME"),
        QStringLiteral("CHAT_DB_PATH"),
        QStringLiteral("ADDRESS_BOOK_PATH"),
        QStringLiteral("SHADOW_DB_PATH"),
        QStringLiteral("ORLUNE_RLM_HELPER_CMD"),
        QStringLiteral("ORLUNE_RLM_RESOURCE_ROOT"),
        QStringLiteral("ORLUNE_RLM_MODEL"),
        QStringLiteral("ORLUNE_RLM_CALL_TIMEOUT_SECONDS"),
        QStringLiteral("ORLUNE_RLM_DEADLINE_SECONDS"),
        QStringLiteral("VEYRLINK_BASE_URL"),
    };
    return variables;
}

QString AppRelauncher::bundleOf(const QString& executable) {
    const QFileInfo macOS(QFileInfo(executable).absolutePath());
    const QFileInfo contents(macOS.absolutePath());
    const QString bundle = contents.absolutePath();
    if (macOS.fileName() != QStringLiteral("MacOS") ||
        contents.fileName() != QStringLiteral("Contents") ||
        !bundle.endsWith(QStringLiteral(".app"))) {
        return {};
    }
    return bundle;
}

QString AppRelauncher::applicationLocation(const QString& executable) {
    const QString bundle = bundleOf(executable);
    return bundle.isEmpty() ? QFileInfo(executable).absoluteFilePath() : bundle;
}

AppRelauncher::Command AppRelauncher::command(const QString& executable,
                                              const QStringList& arguments, qint64 pid,
                                              const std::map<std::string, std::string>& environment,
                                              bool macOS) {
    Command command{
        QStringLiteral("/bin/sh"),
        {QStringLiteral("-c"), QString::fromLatin1(kWaitThenRun), QString::number(pid)}};
    const QString bundle = macOS ? bundleOf(executable) : QString();
    if (bundle.isEmpty()) {
        command.arguments << executable << arguments;
        return command;
    }
    command.arguments << QStringLiteral("/usr/bin/open") << QStringLiteral("-n") << bundle;
    for (const QString& name : passedThroughVariables()) {
        const auto found = environment.find(name.toStdString());
        if (found != environment.end()) {
            command.arguments << QStringLiteral("--env")
                              << name + QLatin1Char('=') + QString::fromStdString(found->second);
        }
    }
    if (!arguments.isEmpty()) {
        command.arguments << QStringLiteral("--args") << arguments;
    }
    return command;
}

bool AppRelauncher::start(const Command& command) {
    return QProcess::startDetached(command.program, command.arguments);
}

} // namespace orlune::rlm
