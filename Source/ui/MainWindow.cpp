// Before any framework header: its X11 declarations, for the size hints below.
#define JUCE_GUI_BASICS_INCLUDE_XHEADERS 1

#include "ui/MainWindow.h"

#include <memory>
#include <utility>

namespace
{
    /** Tells the window manager that the window's size is fixed. The framework writes these
        limits for a window that is not resizable, but its own move-and-resize replaces all of
        WM_NORMAL_HINTS right after with just the position and size, which leaves the native
        window resizable for a window manager. */
    void fixNativeWindowSize ([[maybe_unused]] juce::ComponentPeer& peer)
    {
       #if JUCE_LINUX || JUCE_BSD
        auto* x11 = juce::X11Symbols::getInstance();
        auto* display = juce::XWindowSystem::getInstance()->getDisplay();

        if (display == nullptr)
            return;

        const juce::XWindowSystemUtilities::ScopedXLock lock;
        const std::unique_ptr<XSizeHints, juce::X11Symbols::XFree> hints (x11->xAllocSizeHints(), x11->xFree);

        if (hints == nullptr)
            return;

        const auto bounds = peer.getBounds();
        hints->flags  = USPosition | USSize | PMinSize | PMaxSize;
        hints->x      = bounds.getX();
        hints->y      = bounds.getY();
        hints->width  = hints->min_width  = hints->max_width  = bounds.getWidth();
        hints->height = hints->min_height = hints->max_height = bounds.getHeight();

        const auto window = static_cast<::Window> (reinterpret_cast<juce::pointer_sized_uint> (peer.getNativeHandle()));
        x11->xSetWMNormalHints (display, window, hints.get());
        x11->xFlush (display);
       #endif
    }
}

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
    addToDesktop();

    // The content always gets 420 x 720; the window adds whatever border it has (the menu bar).
    const auto border = getContentComponentBorder();
    centreWithSize (contentWidth + border.getLeftAndRight(), contentHeight + border.getTopAndBottom());

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

// The framework rewrites the size hints whenever it places the window: when the component is
// moved or resized, and once more when it first paints the window (without telling the component).
void MainWindow::paint (juce::Graphics& g)
{
    juce::DocumentWindow::paint (g);

    if (auto* peer = getPeer(); peer != nullptr && ! firstPaintDone)
    {
        fixNativeWindowSize (*peer);
        firstPaintDone = true;
    }
}

void MainWindow::moved()
{
    juce::DocumentWindow::moved();

    if (auto* peer = getPeer())
        fixNativeWindowSize (*peer);
}

void MainWindow::resized()
{
    juce::DocumentWindow::resized();

    if (auto* peer = getPeer())
        fixNativeWindowSize (*peer);
}

void MainWindow::closeButtonPressed()
{
    // The application decides whether and when to quit; the window itself stays.
    if (auto* app = juce::JUCEApplication::getInstance())
        app->systemRequestedQuit();
}
