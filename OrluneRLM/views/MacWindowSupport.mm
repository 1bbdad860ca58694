#include "views/MacWindowSupport.hpp"

#import <AppKit/AppKit.h>
#include <QGuiApplication>
#include <QWidget>

namespace orlune::rlm::macsupport {

void activateApplication() {
    // From macOS 14 on, activate is a request the system may decline for an
    // accessory (menu-bar) app, which leaves the popup without keys until it
    // is clicked; the older call, deprecated but still honoured there, is
    // made as well.
#if __MAC_OS_X_VERSION_MAX_ALLOWED >= 140000
    if (@available(macOS 14.0, *)) {
        [NSApp activate];
    }
#endif
#pragma clang diagnostic push
#pragma clang diagnostic ignored "-Wdeprecated-declarations"
    [NSApp activateIgnoringOtherApps:YES];
#pragma clang diagnostic pop
}

void keepPopupVisible(QWidget* window) {
    // Only Cocoa windows are NSViews (not those of the offscreen platform).
    if (QGuiApplication::platformName() != QLatin1String("cocoa")) {
        return;
    }
    // winId() is the window's NSView; its NSWindow exists once it is shown.
    auto* view = reinterpret_cast<NSView*>(window->winId());
    NSWindow* nsWindow = view.window;
    if (nsWindow == nil) {
        return;
    }
    nsWindow.collectionBehavior = NSWindowCollectionBehaviorCanJoinAllSpaces |
                                  NSWindowCollectionBehaviorFullScreenAuxiliary |
                                  NSWindowCollectionBehaviorIgnoresCycle;
    nsWindow.hidesOnDeactivate = NO;
    // Above full-screen windows, as the menu bar's own menus are.
    nsWindow.level = NSPopUpMenuWindowLevel;
}

} // namespace orlune::rlm::macsupport
