#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

#include <memory>
#include <optional>

// What the X server and the window manager hold for a window, read through a connection of the
// test's own, so that a test sees what a window manager sees rather than what the framework
// believes. Xlib's headers stay out of here: their macros (None, Bool, KeyPress) clash with the
// framework's names.
namespace quillon::test
{
    /** The window's WM_NORMAL_HINTS. */
    struct NativeSizeHints
    {
        bool userPosition = false;      // USPosition: the user chose the position
        bool programPosition = false;   // PPosition: the program chose it
        bool userSize = false;          // USSize
        juce::Point<int> position;
        std::optional<juce::Point<int>> minSize, maxSize;
    };

    struct NativeWindowState
    {
        bool mapped = false;
        bool iconic = false;            // WM_STATE is IconicState
        bool hidden = false;            // _NET_WM_STATE holds _NET_WM_STATE_HIDDEN
        bool fullScreen = false;        // _NET_WM_STATE holds _NET_WM_STATE_FULLSCREEN
        bool active = false;            // the root's _NET_ACTIVE_WINDOW names the window
        juce::Rectangle<int> area;      // on the screen, without the window manager's frame
        juce::Rectangle<int> frame;     // the window manager's frame around it (the area itself when it has none)
        juce::BorderSize<int> frameExtents; // _NET_FRAME_EXTENTS: the frame's sides, as the window manager announces them
        std::optional<NativeSizeHints> hints;
    };

    /** The state of the window's native window; empty when it has none. */
    std::optional<NativeWindowState> readNativeWindow (const juce::Component& window);

    /** True when a window manager runs on the display (_NET_SUPPORTING_WM_CHECK as EWMH
        describes it). */
    bool windowManagerIsRunning();

    /** Runs the message loop until the window manager has handled every request that reached
        the X server before the call: it changes a state of the window that has no effect
        (_NET_WM_STATE_SKIP_PAGER) and takes it back, and waits for the window manager to
        announce both. */
    bool syncWithWindowManager (const juce::Component& window, int timeoutMs = 10000);

    /** Hears, from its construction on, each write of the window's WM_NORMAL_HINTS. */
    class SizeHintsWatch
    {
    public:
        explicit SizeHintsWatch (const juce::Component& window);
        ~SizeHintsWatch();

        /** True once the hints have been written since the last call. */
        bool rewritten();

    private:
        struct Connection;
        std::unique_ptr<Connection> connection;

        JUCE_DECLARE_NON_COPYABLE (SizeHintsWatch)
    };

    /** The native handle of the window, as the command-line tools take it. */
    juce::String nativeWindowId (const juce::Component& window);
}
