#pragma once
// Where the application's windows were, kept between runs.

#include "services/StructuredLogger.hpp"

#include <QList>
#include <QRect>
#include <optional>
#include <string>

namespace orlune::rlm {

// A small JSON file of named places ({"window": {"x", "y", "width",
// "height"}}), each a window's area without its frame in screen
// coordinates. Holds nothing in memory: every call reads the file afresh.
// Any thread; two saves at once each replace the whole file, the last wins.
class WindowPlacement {
public:
    // The application's window.
    static constexpr const char* kWindow = "window";

    // <data folder>/OrluneRLM/window.json. Creates nothing. Throws FileError
    // (noDataFolder).
    static std::string defaultPath();

    WindowPlacement(std::string path, StructuredLogger logger);

    const std::string& path() const { return path_; }

    // The place saved under `name`, or nothing: without a file or entry
    // silently; with a file that cannot be read or is not in this format
    // (or an entry without a positive width and height), a
    // "config_window_place_unreadable" warning is logged. Never throws.
    std::optional<QRect> load(const std::string& name) const;

    // Saves `area` under `name`, keeping the file's other entries (an
    // unreadable file is replaced). Owner-only folder and file, written
    // atomically. Throws FileError.
    void save(const std::string& name, const QRect& area) const;

    // `saved` moved and shrunk as little as needed to lie wholly inside one
    // of the `available` screen areas: the one it overlaps most, else the
    // first (the primary screen), so that a window never opens off-screen
    // or larger than its screen, whatever screens were there when it was
    // saved. `saved` itself when no screen is known.
    static QRect fitted(const QRect& saved, const QList<QRect>& available);

private:
    std::string path_;
    StructuredLogger logger_;
};

} // namespace orlune::rlm
