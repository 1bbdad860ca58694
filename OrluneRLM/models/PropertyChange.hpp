#pragma once
// How the view models publish a property: the new value is stored, and the
// property's change signal emitted, only when it differs from the old one.

#include <utility>

namespace orlune::rlm {

// Assigns `value` to `field` and then calls `notify` (which emits the change
// signal) when the two differ; does nothing otherwise. Returns whether the
// field changed. Runs on the caller's thread, like the signal it emits.
template <typename T, typename U, typename Notify>
bool assignIfChanged(T& field, U&& value, Notify&& notify) {
    if (!(field != value)) {
        return false;
    }
    field = std::forward<U>(value);
    notify();
    return true;
}

} // namespace orlune::rlm
