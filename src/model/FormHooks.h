#pragma once
#include <functional>

namespace quendo {

// Calls from the core into the forms. All optional: tests leave out what they do not need.
struct FormHooks {
    std::function<void()> ShowSplashModal;  // runs the start-up sequence while it is up
    std::function<void()> ShowAboutBox;
    std::function<void()> ShowWelcome;
    std::function<void()> ShowMixEditor;
    std::function<void()> RenderMixEditor;  // after a mix started or ended
    std::function<void()> ShowSettings;
    std::function<void()> CloseMainWindow;  // a close request, as if by the user
    std::function<void(bool)> SetTopmost;   // without moving or resizing
    // command menus: the main window's outer (frame) height in pixels, read and set
    std::function<int()> MainWindowOuterHeight;
    std::function<void(int)> SetMainWindowOuterHeight;
};

}  // namespace quendo
