#include "QtApplication.hpp"

#include <QCoreApplication>

namespace orlune::cli {

std::unique_ptr<QCoreApplication> qtApplicationIfNone() {
    static char name[] = "orlune";
    static char* argv[] = {name, nullptr};
    static int argc = 1;
    if (QCoreApplication::instance() != nullptr) {
        return nullptr;
    }
    return std::make_unique<QCoreApplication>(argc, argv);
}

} // namespace orlune::cli
