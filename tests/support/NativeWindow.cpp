#include "NativeWindow.h"

#include "TestSupport.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <algorithm>
#include <vector>

namespace quillon::test
{
    namespace
    {
        using DisplayPtr = std::unique_ptr<Display, decltype (&XCloseDisplay)>;

        DisplayPtr openDisplay()
        {
            return { XOpenDisplay (nullptr), XCloseDisplay };
        }

        Window nativeHandle (const juce::Component& window)
        {
            auto* peer = window.getPeer();
            return peer != nullptr ? static_cast<Window> (reinterpret_cast<juce::pointer_sized_uint> (peer->getNativeHandle()))
                                   : Window {};
        }

        /** A property of 32-bit items (Xlib hands them over as longs). */
        std::vector<long> readProperty (Display* display, Window window, const char* name, Atom type)
        {
            Atom actualType = 0;
            int format = 0;
            unsigned long count = 0, remaining = 0;
            unsigned char* data = nullptr;
            std::vector<long> values;

            if (XGetWindowProperty (display, window, XInternAtom (display, name, False), 0, 1024, False, type,
                                    &actualType, &format, &count, &remaining, &data) == Success
                 && data != nullptr)
            {
                if (format == 32)
                    values.assign (reinterpret_cast<const long*> (data), reinterpret_cast<const long*> (data) + count);

                XFree (data);
            }

            return values;
        }

        /** The area on the screen of the window's top-level ancestor below the root: the
            window manager's frame of a managed window. */
        std::optional<juce::Rectangle<int>> frameArea (Display* display, Window window)
        {
            for (;;)
            {
                Window root {}, parent {};
                Window* children = nullptr;
                unsigned int count = 0;

                if (XQueryTree (display, window, &root, &parent, &children, &count) == 0)
                    return {};

                if (children != nullptr)
                    XFree (children);

                if (parent == root)
                    break;

                window = parent;
            }

            XWindowAttributes attributes {};

            if (XGetWindowAttributes (display, window, &attributes) == 0)
                return {};

            // A top-level window's position is its place on the screen.
            return juce::Rectangle<int> { attributes.x, attributes.y, attributes.width, attributes.height };
        }

        bool contains (const std::vector<long>& values, long value)
        {
            return std::find (values.begin(), values.end(), value) != values.end();
        }

        std::vector<long> netState (Display* display, Window window)
        {
            return readProperty (display, window, "_NET_WM_STATE", XA_ATOM);
        }

        long atom (Display* display, const char* name)
        {
            return static_cast<long> (XInternAtom (display, name, False));
        }

        /** Asks the window manager to add (1) or remove (0) a _NET_WM_STATE of the window. */
        void requestState (Display* display, Window window, long action, const char* state)
        {
            XEvent event {};
            event.xclient.type = ClientMessage;
            event.xclient.window = window;
            event.xclient.message_type = XInternAtom (display, "_NET_WM_STATE", False);
            event.xclient.format = 32;
            event.xclient.data.l[0] = action;
            event.xclient.data.l[1] = atom (display, state);
            event.xclient.data.l[3] = 2; // from a pager or similar tool, not the application
            XSendEvent (display, DefaultRootWindow (display), False,
                        SubstructureRedirectMask | SubstructureNotifyMask, &event);
            XFlush (display);
        }
    }

    std::optional<NativeWindowState> readNativeWindow (const juce::Component& component)
    {
        const auto window = nativeHandle (component);
        const auto display = openDisplay();

        if (window == Window {} || display == nullptr)
            return {};

        XWindowAttributes attributes {};

        if (XGetWindowAttributes (display.get(), window, &attributes) == 0)
            return {};

        NativeWindowState state;
        state.mapped = attributes.map_state != IsUnmapped;

        int x = 0, y = 0;
        Window child {};
        XTranslateCoordinates (display.get(), window, attributes.root, 0, 0, &x, &y, &child);
        state.area = { x, y, attributes.width, attributes.height };
        state.frame = frameArea (display.get(), window).value_or (state.area);

        if (const auto extents = readProperty (display.get(), window, "_NET_FRAME_EXTENTS", XA_CARDINAL); extents.size() == 4)
            state.frameExtents = { (int) extents[2], (int) extents[0], (int) extents[3], (int) extents[1] };

        const auto wmState = XInternAtom (display.get(), "WM_STATE", False);
        const auto stateValues = readProperty (display.get(), window, "WM_STATE", wmState);
        state.iconic = ! stateValues.empty() && stateValues.front() == IconicState;

        const auto netStates = netState (display.get(), window);
        state.hidden = contains (netStates, atom (display.get(), "_NET_WM_STATE_HIDDEN"));
        state.fullScreen = contains (netStates, atom (display.get(), "_NET_WM_STATE_FULLSCREEN"));
        state.active = readProperty (display.get(), attributes.root, "_NET_ACTIVE_WINDOW", XA_WINDOW)
                           == std::vector<long> { static_cast<long> (window) };

        XSizeHints hints {};
        long supplied = 0;

        if (XGetWMNormalHints (display.get(), window, &hints, &supplied) != 0)
        {
            NativeSizeHints& h = state.hints.emplace();
            h.userPosition = (hints.flags & USPosition) != 0;
            h.programPosition = (hints.flags & PPosition) != 0;
            h.userSize = (hints.flags & USSize) != 0;
            h.position = { hints.x, hints.y };

            if ((hints.flags & PMinSize) != 0)
                h.minSize = juce::Point<int> (hints.min_width, hints.min_height);

            if ((hints.flags & PMaxSize) != 0)
                h.maxSize = juce::Point<int> (hints.max_width, hints.max_height);
        }

        return state;
    }

    bool windowManagerIsRunning()
    {
        const auto display = openDisplay();

        if (display == nullptr)
            return false;

        const auto check = readProperty (display.get(), DefaultRootWindow (display.get()), "_NET_SUPPORTING_WM_CHECK", XA_WINDOW);

        return check.size() == 1
            && readProperty (display.get(), static_cast<Window> (check.front()), "_NET_SUPPORTING_WM_CHECK", XA_WINDOW) == check;
    }

    bool syncWithWindowManager (const juce::Component& component, int timeoutMs)
    {
        const auto window = nativeHandle (component);
        const auto display = openDisplay();

        if (window == Window {} || display == nullptr)
            return false;

        const auto skipPager = atom (display.get(), "_NET_WM_STATE_SKIP_PAGER");
        const auto hasSkipPager = [&] { return contains (netState (display.get(), window), skipPager); };

        if (hasSkipPager())
            return false;

        requestState (display.get(), window, 1, "_NET_WM_STATE_SKIP_PAGER");

        if (! pumpUntil (hasSkipPager, timeoutMs))
            return false;

        requestState (display.get(), window, 0, "_NET_WM_STATE_SKIP_PAGER");
        return pumpUntil ([&] { return ! hasSkipPager(); }, timeoutMs);
    }

    struct SizeHintsWatch::Connection
    {
        DisplayPtr display = openDisplay();
        Window window {};
    };

    SizeHintsWatch::SizeHintsWatch (const juce::Component& window)
        : connection (std::make_unique<Connection>())
    {
        connection->window = nativeHandle (window);

        if (connection->display != nullptr && connection->window != Window {})
        {
            XSelectInput (connection->display.get(), connection->window, PropertyChangeMask);
            XSync (connection->display.get(), False);
        }
    }

    SizeHintsWatch::~SizeHintsWatch() = default;

    bool SizeHintsWatch::rewritten()
    {
        auto* display = connection->display.get();
        bool written = false;

        if (display == nullptr)
            return false;

        XEvent event {};

        while (XCheckTypedWindowEvent (display, connection->window, PropertyNotify, &event))
            written = written || event.xproperty.atom == XA_WM_NORMAL_HINTS;

        return written;
    }

    juce::String nativeWindowId (const juce::Component& window)
    {
        return juce::String (static_cast<juce::uint64> (nativeHandle (window)));
    }
}
