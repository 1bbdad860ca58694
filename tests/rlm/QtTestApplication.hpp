#pragma once
// The one QCoreApplication of the test program, made on first use so that
// models can deliver background results through the event loop.

#include <QCoreApplication>

namespace orlune::testing {

// Never destroyed: the thread pool may still be finishing work of a test when
// the program ends, and nothing here needs tearing down.
inline QCoreApplication& coreApplication() {
    if (QCoreApplication* existing = QCoreApplication::instance()) {
        return *existing;
    }
    static int argc = 1;
    static char name[] = "orlune_rlm_tests";
    static char* argv[] = {name, nullptr};
    static QCoreApplication* application = new QCoreApplication(argc, argv);
    return *application;
}

} // namespace orlune::testing
