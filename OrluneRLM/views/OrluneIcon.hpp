#pragma once
// Orlune's mark, drawn in code: a speech bubble holding a crescent moon.

#include <QColor>
#include <QIcon>
#include <QPixmap>
#include <QString>

namespace orlune::rlm {

// GUI thread only (it paints pixmaps).
class OrluneIcon {
public:
    OrluneIcon() = delete;

    // The mark at `size` pixels square. With `mask`, one opaque colour on
    // transparency with the moon cut out (for menu bars that tint icons);
    // otherwise the coloured version. With `badge`, a dot in the top right
    // corner (red on the coloured version) says something new is waiting.
    static QPixmap draw(int size, bool mask, bool badge = false);

    // The icon of the menu-bar item: the mask version on macOS (marked as a
    // template so that the system tints it), the coloured one elsewhere;
    // with `badge`, the badged mark (an answer came while the popup was
    // closed).
    static QIcon trayIcon(bool badge = false);
    // The coloured icon, for windows.
    static QIcon applicationIcon();

    // Writes the coloured mark into `folder` (created when missing) as the
    // PNG files of a macOS icon set (icon_16x16.png, icon_16x16@2x.png, ...
    // icon_512x512@2x.png), from which iconutil makes the bundle's .icns.
    // Returns false when a file cannot be written.
    static bool writeIconset(const QString& folder);
};

} // namespace orlune::rlm
