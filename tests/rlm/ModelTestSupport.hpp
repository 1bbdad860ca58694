#pragma once
// Shared by the model tests: the event loop, a recorder of change signals,
// and the log entries of one event.

#include "tests/rlm/QtTestApplication.hpp"
#include "tests/rlm/RlmTestFolder.hpp"

#include <QObject>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

namespace orlune::testing {

// Records, in order, the names of the change signals it watches. Must outlive
// the objects it watches.
class SignalRecorder {
public:
    template <typename Sender, typename Signal>
    void watch(Sender* sender, Signal signal, std::string name) {
        QObject::connect(sender, signal, &context_, [this, name] { names_.push_back(name); });
    }
    // Everything recorded since the last call.
    std::vector<std::string> take() {
        std::vector<std::string> taken;
        taken.swap(names_);
        return taken;
    }

private:
    QObject context_;
    std::vector<std::string> names_;
};

// The entries of `folder`'s log whose event name is `message`.
inline std::vector<nlohmann::json> eventsNamed(const RlmTestFolder& folder,
                                               const std::string& message) {
    std::vector<nlohmann::json> found;
    for (const auto& entry : folder.loggedEntries()) {
        if (entry.value("message", "") == message) {
            found.push_back(entry);
        }
    }
    return found;
}

// Every event name logged in `folder`, in order.
inline std::vector<std::string> eventNames(const RlmTestFolder& folder) {
    std::vector<std::string> names;
    for (const auto& entry : folder.loggedEntries()) {
        names.push_back(entry.value("message", ""));
    }
    return names;
}

} // namespace orlune::testing
