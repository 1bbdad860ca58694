#pragma once
// Orlune's mark, drawn in code: a speech bubble holding a crescent moon.

#include <QColor>
#include <QIcon>
#include <QPixmap>

namespace orlune::rlm {

// GUI thread only (it paints pixmaps).
class OrluneIcon {
public:
    OrluneIcon() = delete;

    // The mark at `size` pixels square. With `mask`, one opaque colour on
    // transparency with the moon cut out (for menu bars that tint icons);
    // otherwise the coloured version.
    static QPixmap draw(int size, bool mask);

    // The icon of the menu-bar item: the mask version on macOS (marked as a
    // template so that the system tints it), the coloured one elsewhere.
    static QIcon trayIcon();
    // The coloured icon, for windows.
    static QIcon applicationIcon();
};

} // namespace orlune::rlm
