#include "KorvelQuillonApplication.h"
#include "support/NativeWindow.h"
#include "support/TestSupport.h"
#include "ui/CommandIDs.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <ostream>

// The main window as a window manager (openbox) handles it: minimised and restored through the
// application's commands and keys, restored by the window manager itself, put to full screen and
// back. Each test runs on a display of its own under openbox (tools/with_window_manager.py).

namespace juce
{
    inline void PrintTo (const Point<int>& p, std::ostream* out)      { *out << p.toString(); }
    inline void PrintTo (const Rectangle<int>& r, std::ostream* out)  { *out << r.toString(); }
}

using quillon::test::NativeWindowState;
using quillon::test::pumpFor;
using quillon::test::pumpUntil;
using quillon::test::readNativeWindow;
using quillon::test::runTool;
using quillon::test::SizeHintsWatch;
using quillon::test::syncWithWindowManager;

namespace
{
    juce::JUCEApplicationBase* noFactory() { return nullptr; }

    juce::Point<int> sizeOf (juce::Rectangle<int> area) { return { area.getWidth(), area.getHeight() }; }

    /** The framework drops a window's paint buffer after three idle seconds; the next paint makes
        a new one, and with it the framework tells the window manager the window's placement
        again. A pause of this length lets that happen. */
    constexpr int idleSpellMs = 3500;

    class WindowManagerTest : public ::testing::Test
    {
    protected:
        void SetUp() override
        {
            ASSERT_TRUE (quillon::test::windowManagerIsRunning())
                << "these tests need a window manager: run them through tests/tools/with_window_manager.py";

            juce::JUCEApplicationBase::createInstance = &noFactory;
            app = std::make_unique<KorvelQuillonApplication>();
            app->initialise ({});
            ASSERT_NE (app->getMainWindow(), nullptr);
            ASSERT_NE (window().getMenuBarComponent(), nullptr);

            // The content's 420 x 720 and the menu bar above it.
            fixedSize = { 420, 720 + window().getMenuBarComponent()->getHeight() };

            // Shown, managed and with the keyboard focus, as after a start from the desktop.
            window().toFront (true);
            ASSERT_TRUE (pumpUntil ([this] { return isShownWithTheFocus(); }));
            ASSERT_TRUE (syncWithWindowManager (window()));
            shown = state();
            ASSERT_EQ (sizeOf (shown.area), fixedSize);
        }

        void TearDown() override
        {
            if (app != nullptr)
                app->shutdown();

            app.reset();
        }

        MainWindow& window() { return *app->getMainWindow(); }

        NativeWindowState state()
        {
            const auto current = readNativeWindow (window());
            return current.value_or (NativeWindowState {});
        }

        bool isMinimisedNatively()
        {
            const auto s = state();
            return s.iconic && s.hidden && ! s.mapped;
        }

        bool isShownWithTheFocus()
        {
            const auto s = state();
            return s.mapped && ! s.iconic && ! s.hidden && s.active && isFramed (s)
                && window().getPeer() != nullptr && window().getPeer()->isFocused();
        }

        /** The window manager's frame holds the whole window, as the frame's extents say. While
            openbox animates a minimise or a restore, the frame is a title bar that moves between
            the window's place and the bottom of the screen, and the window moves with it. */
        static bool isFramed (const NativeWindowState& s)
        {
            return ! s.frameExtents.isEmpty() && s.frame == s.frameExtents.addedTo (s.area);
        }

        /** What must hold in every state of the window: its hints give the fixed size as both
            limits, and never present a position or size as the user's choice. */
        void expectFixedSizeHints (const char* when)
        {
            SCOPED_TRACE (when);
            const auto hints = state().hints;
            ASSERT_TRUE (hints.has_value());
            EXPECT_EQ (hints->minSize.value_or (juce::Point<int>()), fixedSize);
            EXPECT_EQ (hints->maxSize.value_or (juce::Point<int>()), fixedSize);
            EXPECT_FALSE (hints->userPosition) << "at " << hints->position.toString();
            EXPECT_FALSE (hints->userSize);
        }

        /** Back where it was before, at its size, on the screen, with the content at its size.
            A window manager may animate the way there: the window is first waited for at its
            place with the animation over, then the window manager is given every request made
            so far (a position sent meanwhile would move the window again), and then it must
            still be there. The window sits at its place for a moment before the animation of
            a restore starts too, hence the frame's part in the wait. */
        void expectAsShown (const char* when)
        {
            SCOPED_TRACE (when);
            EXPECT_TRUE (pumpUntil ([this] { const auto s = state(); return s.area == shown.area && isFramed (s); }));
            ASSERT_TRUE (syncWithWindowManager (window()));

            const auto now = state();
            const auto area = now.area;
            EXPECT_EQ (area, shown.area);
            EXPECT_TRUE (isFramed (now)) << "frame " << now.frame.toString() << " around " << area.toString();
            EXPECT_TRUE (juce::Desktop::getInstance().getDisplays().getTotalBounds (true).contains (area));
            EXPECT_TRUE (pumpUntil ([&] { return window().getScreenBounds() == area; }))
                << "the framework knows where the window is: " << window().getScreenBounds().toString();
            EXPECT_EQ (sizeOf (window().getContentComponent()->getBounds()), juce::Point<int> (420, 720));
        }

        void clickOnTheDesktop (juce::Point<int> where)
        {
            ASSERT_TRUE (runTool ({ "xdotool", "mousemove", juce::String (where.x), juce::String (where.y), "click", "1" }));
        }

        std::unique_ptr<KorvelQuillonApplication> app;
        juce::Point<int> fixedSize;
        NativeWindowState shown;
    };
}

//==============================================================================
TEST_F (WindowManagerTest, CtrlMMinimisesAndBringToFrontRestoresWithTheFocus)
{
    expectFixedSizeHints ("shown");

    // A real key press, to the window that has the focus.
    ASSERT_TRUE (runTool ({ "xdotool", "key", "ctrl+m" }));
    ASSERT_TRUE (pumpUntil ([this] { return isMinimisedNatively(); }));
    EXPECT_TRUE (window().isMinimised());
    expectFixedSizeHints ("minimised");

    // As from the Window menu: the command runs from the message loop.
    ASSERT_TRUE (app->getCommandManager()->invokeDirectly (CommandIDs::bringToFront, true));
    ASSERT_TRUE (pumpUntil ([this] { return isShownWithTheFocus(); }));
    EXPECT_FALSE (window().isMinimised());
    EXPECT_EQ (app->getMainWindow(), &window()) << "the same window comes back";
    expectAsShown ("restored");
    expectFixedSizeHints ("restored");

    // The key works again in the restored window.
    ASSERT_TRUE (runTool ({ "xdotool", "key", "ctrl+m" }));
    EXPECT_TRUE (pumpUntil ([this] { return isMinimisedNatively(); }));
}

// Minimised, left alone for a while with a couple of clicks on the desktop, and restored: by the
// application's Bring to Front, or by the window manager as a task bar does. The window comes
// back where it was, at its size, while the window manager still animates the restore.
TEST_F (WindowManagerTest, AWindowRestoredAfterAnIdleSpellComesBackWhereItWas)
{
    struct Restore
    {
        const char* name;
        std::function<bool()> restore;
    };

    const Restore restores[] = {
        { "Bring to Front", [this] { return app->getCommandManager()->invokeDirectly (CommandIDs::bringToFront, true); } },
        { "the window manager", [this] { return runTool ({ "wmctrl", "-i", "-a", quillon::test::nativeWindowId (window()) }); } },
    };

    for (const auto& [name, restore] : restores)
    {
        SCOPED_TRACE (name);

        ASSERT_TRUE (app->getCommandManager()->invokeDirectly (CommandIDs::minimize, true));
        ASSERT_TRUE (pumpUntil ([this] { return isMinimisedNatively(); }));

        pumpFor (idleSpellMs / 2);
        clickOnTheDesktop ({ 40, 40 });
        pumpFor (idleSpellMs / 2);
        clickOnTheDesktop ({ 1200, 980 });
        expectFixedSizeHints ("minimised");

        SizeHintsWatch hints (window());
        ASSERT_TRUE (restore());
        ASSERT_TRUE (pumpUntil ([this] { return isShownWithTheFocus(); }));
        ASSERT_TRUE (pumpUntil ([&] { return hints.rewritten(); }))
            << "the framework places the window again with its new paint buffer";

        expectAsShown ("restored");
        expectFixedSizeHints ("restored");
    }
}

TEST_F (WindowManagerTest, FullScreenOnAndOffKeepsTheSizeAndThePlace)
{
    const auto id = quillon::test::nativeWindowId (window());

    // After an idle spell the framework places the window again on its next paint.
    SizeHintsWatch hints (window());
    pumpFor (idleSpellMs);
    window().repaint();
    ASSERT_TRUE (pumpUntil ([&] { return hints.rewritten(); }));
    expectFixedSizeHints ("placed again");

    ASSERT_TRUE (runTool ({ "wmctrl", "-i", "-r", id, "-b", "add,fullscreen" }));
    ASSERT_TRUE (pumpUntil ([this] { return state().fullScreen; }));
    ASSERT_TRUE (syncWithWindowManager (window()));
    EXPECT_EQ (sizeOf (state().area), fixedSize) << "the window manager keeps the fixed size";
    expectFixedSizeHints ("full screen");

    ASSERT_TRUE (runTool ({ "wmctrl", "-i", "-r", id, "-b", "remove,fullscreen" }));
    ASSERT_TRUE (pumpUntil ([this] { return ! state().fullScreen; }));
    expectAsShown ("full screen ended");
    expectFixedSizeHints ("full screen ended");
}

// Asked by others to grow (as a pager or a script may), the window keeps its size.
TEST_F (WindowManagerTest, TheWindowManagerNeitherResizesNorMaximisesIt)
{
    const auto id = quillon::test::nativeWindowId (window());

    ASSERT_TRUE (runTool ({ "wmctrl", "-i", "-r", id, "-e", "0,-1,-1,900,900" }));
    ASSERT_TRUE (runTool ({ "wmctrl", "-i", "-r", id, "-b", "add,maximized_vert,maximized_horz" }));
    ASSERT_TRUE (syncWithWindowManager (window()));

    EXPECT_EQ (sizeOf (state().area), fixedSize);
    EXPECT_TRUE (pumpUntil ([this] { return window().getScreenBounds() == state().area; }));
    EXPECT_EQ (sizeOf (window().getContentComponent()->getBounds()), juce::Point<int> (420, 720));
    expectFixedSizeHints ("asked to grow");
}
