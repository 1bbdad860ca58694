// orlune-make-iconset FOLDER: writes the application's icon set (the PNG files
// iconutil turns into the bundle's .icns). Run at build time on the Mac.

#include "views/OrluneIcon.hpp"

#include <QGuiApplication>
#include <cstdio>

int main(int argc, char* argv[]) {
    if (argc != 2) {
        std::fputs("usage: orlune-make-iconset FOLDER\n", stderr);
        return 2;
    }
    // Drawing needs a GUI application, not a screen.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QGuiApplication application(argc, argv);
    if (!orlune::rlm::OrluneIcon::writeIconset(QString::fromLocal8Bit(argv[1]))) {
        std::fprintf(stderr, "orlune-make-iconset: cannot write %s\n", argv[1]);
        return 1;
    }
    return 0;
}
