// OrluneRLM: the menu-bar application. Lives in the system tray (or, without
// one or with --window, in a normal window) until "Quit".

#include "base/Environment.hpp"
#include "models/FullDiskAccessViewModel.hpp"
#include "services/LogFile.hpp"
#include "services/SingleInstance.hpp"
#include "views/OrluneRLMApp.hpp"

#include <QApplication>
#include <QDesktopServices>
#include <QUrl>
#include <csignal>

int main(int argc, char* argv[]) {
    // A helper that exits without reading its request must not take the
    // application down with it.
    std::signal(SIGPIPE, SIG_IGN);

    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("OrluneRLM"));
    QApplication::setApplicationDisplayName(QStringLiteral("OrluneRLM"));
    QApplication::setDesktopFileName(QStringLiteral("orlune"));

    // Started from the Finder, standard error goes nowhere: keep a copy.
    if (const auto folder =
            orlune::rlm::LogFile::defaultFolder(orlune::core::Environment::process())) {
        orlune::rlm::LogFile::install(std::make_shared<orlune::rlm::LogFile>(
            orlune::core::joinPath(*folder, orlune::rlm::LogFile::kFileName)));
    }

    // One copy per data folder: a second start brings the running one
    // forward and ends, so two copies never overwrite each other's sessions.
    orlune::rlm::SingleInstance instance(orlune::rlm::SingleInstance::defaultLockPath());
    if (!instance.isPrimary() && !orlune::rlm::SingleInstance::defaultLockPath().isEmpty()) {
        instance.bringPrimaryForward();
        return 0;
    }

    orlune::rlm::FullDiskAccessViewModel::setDefaultUrlOpener(
        [](const QUrl& address) { return QDesktopServices::openUrl(address); });

    orlune::rlm::OrluneRLMApp app(
        orlune::rlm::OrluneRLMApp::optionsFromCommandLine(QApplication::arguments()));
    QObject::connect(&instance, &orlune::rlm::SingleInstance::activationRequested, &app,
                     &orlune::rlm::OrluneRLMApp::showMenuWindow);
    app.start();
    return QApplication::exec();
}
