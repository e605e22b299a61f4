#pragma once
#include <atomic>

// The unit's display: starts the widget layer on the framebuffer (320 x 170 at offset 0, 35 of the
// panel), shows the start-up splash, renders a frame and empties the screen. The screens are
// immediate mode: after every rendered frame clear() deletes all widgets and the top screen builds
// them again from the node values.
//
// initialize and splash run once on "eventTasks" during board start-up; flush and clear afterwards
// on "systemTasks". The layer has no lock, so only one thread may use it at a time: systemTasks
// waits for isInitialized() before its first call.
class LCD {
public:
    using SplashFunction = void (*)();

    static void initialize();
    // Replaces the default splash (null restores it).
    static void set_custom_splash(SplashFunction function);
    // Draws the custom splash, or the default one, and renders it at once.
    static void splash();
    // Renders the widgets that exist now.
    static void flush();
    // Deletes every widget of the active screen.
    static void clear();
    static bool isInitialized() { return initialized.load(std::memory_order_acquire); }

    static SplashFunction custom_splash;

private:
    static std::atomic<bool> initialized;
};
