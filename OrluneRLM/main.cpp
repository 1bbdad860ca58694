// OrluneRLM: the menu-bar application. Lives in the system tray (or, without
// one or with --window, in a normal window) until "Quit".

#include "OrluneRLM/FullDiskAccessViewModel.hpp"
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

    orlune::rlm::FullDiskAccessViewModel::setDefaultUrlOpener(
        [](const QUrl& address) { return QDesktopServices::openUrl(address); });

    orlune::rlm::OrluneRLMApp app(
        orlune::rlm::OrluneRLMApp::optionsFromCommandLine(QApplication::arguments()));
    app.start();
    return QApplication::exec();
}
