// Before any framework header: its X11 declarations, for the native placement below.
#define JUCE_GUI_BASICS_INCLUDE_XHEADERS 1

#include "ui/MainWindow.h"

#include <optional>
#include <set>
#include <utility>

#if JUCE_LINUX || JUCE_BSD
/** Keeps what window managers hear about the window to what the program decided: one fixed
    size, and a position only where the program places the window.

    The framework tells the window manager the window's size hints (WM_NORMAL_HINTS) and position
    not only when the program places the window but also whenever it re-creates the window's
    paint buffer, which it drops after three idle seconds. Each time, it replaces the hints with
    the window's position and size of the moment, marked as the user's choice and without the
    limits that keep a window manager from resizing the window, and asks again for the position
    it last heard of. A window manager then lets the user resize the window, stretches it over the
    whole screen for full screen, and, when the window is restored while the window manager still
    animates the restore, moves it to the point of the animation that the framework heard of,
    off the screen.

    All of it goes through the framework's table of X11 functions, so the window's calls are
    mended there: the hints always give the fixed size and mark no position as the user's, and a
    position that repeats the window's own is not sent again. */
class MainWindow::NativePlacement : private juce::ComponentListener
{
public:
    NativePlacement (juce::Component& windowToKeep, juce::Point<int> size)
        : window (windowToKeep), fixedSize (size)
    {
        routeFrameworkCalls();
        placements().insert (this);
        window.addComponentListener (this);
    }

    ~NativePlacement() override
    {
        window.removeComponentListener (this);
        placements().erase (this);
    }

private:
    struct FrameworkCalls
    {
        juce::X11Symbols::XSetWMNormalHints setHints = nullptr;
        juce::X11Symbols::XMoveResizeWindow moveResize = nullptr;
    };

    void componentMovedOrResized (juce::Component&, bool wasMoved, bool) override
    {
        if (wasMoved)
            knownPosition = window.getPosition();
    }

    /** True when the framework asks for the position that the window already had when it last
        moved: the framework's peer holds the position asked for, the window itself hears of it
        only afterwards. */
    bool repeatsKnownPosition (const juce::ComponentPeer& peer) const
    {
        return knownPosition == peer.getBounds().getPosition();
    }

    static void routeFrameworkCalls()
    {
        auto& symbols = *juce::X11Symbols::getInstance();

        if (symbols.xSetWMNormalHints == &setHints)
            return;

        framework().setHints = std::exchange (symbols.xSetWMNormalHints, &setHints);
        framework().moveResize = std::exchange (symbols.xMoveResizeWindow, &moveResize);
    }

    // Windows are placed and painted on the message thread only.
    static std::set<NativePlacement*>& placements()
    {
        static std::set<NativePlacement*> all;
        return all;
    }

    static FrameworkCalls& framework()
    {
        static FrameworkCalls calls;
        return calls;
    }

    /** The placement that keeps the native window, with the window's peer; none for windows
        that are not kept. */
    static std::pair<const NativePlacement*, const juce::ComponentPeer*> find (::Window nativeWindow)
    {
        for (const auto* placement : placements())
            if (const auto* peer = placement->window.getPeer();
                peer != nullptr && reinterpret_cast<juce::pointer_sized_uint> (peer->getNativeHandle()) == nativeWindow)
                return { placement, peer };

        return {};
    }

    static void setHints (::Display* display, ::Window nativeWindow, XSizeHints* hints)
    {
        if (const auto [placement, peer] = find (nativeWindow); placement != nullptr && hints != nullptr)
        {
            const auto placed = (hints->flags & (USPosition | PPosition)) != 0 && ! placement->repeatsKnownPosition (*peer);
            const auto size = (placement->fixedSize.toDouble() * peer->getPlatformScaleFactor()).roundToInt();

            hints->flags = (hints->flags & ~(USPosition | PPosition | USSize)) | PSize | PMinSize | PMaxSize
                         | (placed ? PPosition : 0);
            hints->width  = hints->min_width  = hints->max_width  = size.x;
            hints->height = hints->min_height = hints->max_height = size.y;
        }

        framework().setHints (display, nativeWindow, hints);
    }

    static void moveResize (::Display* display, ::Window nativeWindow, int x, int y, unsigned int width, unsigned int height)
    {
        if (const auto [placement, peer] = find (nativeWindow); placement != nullptr && placement->repeatsKnownPosition (*peer))
            juce::X11Symbols::getInstance()->xResizeWindow (display, nativeWindow, width, height);
        else
            framework().moveResize (display, nativeWindow, x, y, width, height);
    }

    juce::Component& window;
    const juce::Point<int> fixedSize;
    std::optional<juce::Point<int>> knownPosition;

    JUCE_DECLARE_NON_COPYABLE (NativePlacement)
};
#else
// Elsewhere the native window of a window that is not resizable keeps its size by itself.
class MainWindow::NativePlacement
{
public:
    NativePlacement (juce::Component&, juce::Point<int>) {}
};
#endif

MainWindow::MainWindow (MainWindowComponent::Ptr windowContent,
                        ConverterController::Ptr converterController,
                        juce::ApplicationCommandManager* commands,
                        juce::MenuBarModel* menuModel)
    : juce::DocumentWindow ("Korvel Quillon",
                            juce::Colour::greyLevel (0.6f),
                            juce::DocumentWindow::minimiseButton | juce::DocumentWindow::closeButton,
                            false),
      commandManager (commands),
      content (std::move (windowContent)),
      controller (std::move (converterController))
{
    addKeyListener (commandManager->getKeyMappings());
    setUsingNativeTitleBar (true);

    if (menuModel != nullptr)
        setMenuBar (menuModel);

    setContentOwned (content.get(), false);

    // The content always gets 420 x 720; the window adds whatever border it has (the menu bar).
    const auto border = getContentComponentBorder();
    const juce::Point<int> size (contentWidth + border.getLeftAndRight(), contentHeight + border.getTopAndBottom());
    nativePlacement = std::make_unique<NativePlacement> (*this, size);

    addToDesktop();
    centreWithSize (size.x, size.y);

    setVisible (true);
    setLookAndFeel (&look);
}

MainWindow::~MainWindow()
{
    controller->abortConversion();
    removeKeyListener (commandManager->getKeyMappings());

    // The look goes first among the fields; nothing may draw through it after that.
    setLookAndFeel (nullptr);

    // The content belongs to its reference-counted pointer alone from here on: released below,
    // it removes itself from the window, and the framework window's teardown must not delete it
    // a second time (nor delete it while another reference still holds it).
    setContentNonOwned (content.get(), false);
}

void MainWindow::closeButtonPressed()
{
    // The application decides whether and when to quit; the window itself stays.
    if (auto* app = juce::JUCEApplication::getInstance())
        app->systemRequestedQuit();
}
