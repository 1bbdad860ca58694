#pragma once
// What a menu-bar popup needs from the Mac's window system that Qt does not
// offer. Implemented in MacWindowSupport.mm on macOS; nothing to do elsewhere.

class QWidget;

namespace orlune::rlm::macsupport {

#ifdef __APPLE__
// Makes this application the active one. An accessory application (no Dock
// icon) is not activated by a click on its menu-bar item, so without this its
// popup would not take the keyboard. GUI thread only.
void activateApplication();

// Lets `window` (a shown top-level window) appear on every Space and over
// full-screen applications, and stay up while another application is active.
// Call it after each show(): Qt may reset the window's level then. GUI
// thread only.
void keepPopupVisible(QWidget* window);
#else
inline void activateApplication() {}
inline void keepPopupVisible(QWidget*) {}
#endif

} // namespace orlune::rlm::macsupport
