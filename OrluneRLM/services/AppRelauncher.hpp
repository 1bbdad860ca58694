#pragma once
// Starting the application again: the Mac applies a Full Disk Access grant
// only to a process started after it, so the access screen offers "Quit &
// Reopen".

#include <QString>
#include <QStringList>
#include <functional>
#include <map>
#include <string>

namespace orlune::rlm {

// Stateless; any thread.
class AppRelauncher {
public:
    AppRelauncher() = delete;

    struct Command {
        QString program;
        QStringList arguments;
        bool operator==(const Command&) const = default;
    };

    // The variables a new copy is given again when the system starts it
    // (macOS: launched through Launch Services, it would otherwise get the
    // session's environment): the ones that choose Orlune's folders, store,
    // address books, helper and gateway. Never the API key: these end up in
    // the arguments of a process, which other users can list.
    static const QStringList& passedThroughVariables();

    // The app bundle holding `executable` (".../OrluneRLM.app" for
    // ".../OrluneRLM.app/Contents/MacOS/OrluneRLM"), or empty when it is not
    // inside one.
    static QString bundleOf(const QString& executable);

    // What the person picks in the privacy settings: the bundle when there
    // is one, else the executable.
    static QString applicationLocation(const QString& executable);

    // The command that waits until process `pid` has ended and then starts
    // the application again, run by /bin/sh so that it outlives this
    // process. On macOS with a bundle the new copy is started by
    // "/usr/bin/open -n <bundle>" with "--env NAME=value" for each variable
    // of passedThroughVariables() set in `environment`, and "--args" followed
    // by `arguments` when there are any, so that the system launches it as
    // itself (its own responsible process for privacy decisions). Otherwise
    // `executable` is started with `arguments` and inherits the environment.
    static Command command(const QString& executable, const QStringList& arguments, qint64 pid,
                           const std::map<std::string, std::string>& environment, bool macOS);

    // Starts `command` detached (QProcess::startDetached). Returns whether it
    // started.
    static bool start(const Command& command);
};

} // namespace orlune::rlm
