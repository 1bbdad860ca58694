#include "sessions/ChatDate.hpp"

#include <cmath>

namespace orlune::rlm {

ChatDate ChatDate::now() {
    return fromSystemTime(std::chrono::system_clock::now());
}

ChatDate ChatDate::fromSystemTime(std::chrono::system_clock::time_point time) {
    const double unixSeconds = std::chrono::duration<double>(time.time_since_epoch()).count();
    return ChatDate{unixSeconds - kReferenceUnixSeconds};
}

std::chrono::system_clock::time_point ChatDate::toSystemTime() const {
    const std::chrono::duration<double> unixSeconds(secondsSinceReferenceDate +
                                                    kReferenceUnixSeconds);
    return std::chrono::system_clock::time_point(
        std::chrono::duration_cast<std::chrono::system_clock::duration>(unixSeconds));
}

} // namespace orlune::rlm
