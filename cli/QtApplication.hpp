#pragma once
// The Qt application a verb needs when it reads the configuration: the
// platform's credential store answers through Qt's event loop. Qt's headers
// stay out of this one (their `emit` macro would rename members elsewhere).

#include <memory>

class QCoreApplication;

namespace orlune::cli {

// A QCoreApplication for this process, or null when one exists already.
// Keep what it returns alive while the verb uses Qt; the caller includes
// <QCoreApplication> to destroy it. GUI thread only.
std::unique_ptr<QCoreApplication> qtApplicationIfNone();

} // namespace orlune::cli
