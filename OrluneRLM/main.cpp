// OrluneRLM: the menu-bar application. Lives in the system tray (or, without
// one or with --window, in a normal window) until "Quit".

#include "OrluneCore/Environment.hpp"
#include "OrluneRLM/FullDiskAccessViewModel.hpp"
#include "OrluneRLM/LogFile.hpp"
#include "OrluneRLM/views/OrluneRLMApp.hpp"

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

    orlune::rlm::FullDiskAccessViewModel::setDefaultUrlOpener(
        [](const QUrl& address) { return QDesktopServices::openUrl(address); });

    orlune::rlm::OrluneRLMApp app(
        orlune::rlm::OrluneRLMApp::optionsFromCommandLine(QApplication::arguments()));
    app.start();
    return QApplication::exec();
}
