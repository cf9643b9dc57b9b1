// The test framework first: the X11 declarations that follow define macros (None among them)
// that its headers would not survive.
#include <gtest/gtest.h>

// Before any framework header: its X11 declarations, to read the screen and to sync with the server.
#define JUCE_GUI_BASICS_INCLUDE_XHEADERS 1

#include "KorvelQuillonApplication.h"
#include "support/ComponentSearch.h"
#include "support/TestSupport.h"
#include "ui/CommandIDs.h"
#include "ui/MainMenuModel.h"

#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

// The application's own menus over its own commands. Quitting ends the message loop for good, so
// a test that quits is the last thing its process does (each test case runs in its own process).

using quillon::test::findButton;
using quillon::test::findOnDesktop;
using quillon::test::pumpUntil;
using quillon::test::runTool;
using quillon::test::TemporaryFolder;
using quillon::test::WhenReady;
using quillon::test::writeScript;

namespace
{
    juce::JUCEApplicationBase* noFactory() { return nullptr; }

    struct Entry
    {
        Entry (std::string itemText, juce::CommandID itemID = 0, std::string itemKeys = {}, bool isEnabled = true)
            : text (std::move (itemText)), id (itemID), keys (std::move (itemKeys)), enabled (isEnabled)
        {
        }

        std::string text;          // "---" for a separator
        juce::CommandID id;
        std::string keys;          // the key shown beside the item
        bool enabled;

        bool operator== (const Entry& other) const
        {
            return text == other.text && id == other.id && keys == other.keys && enabled == other.enabled;
        }

        friend std::ostream& operator<< (std::ostream& os, const Entry& e)
        {
            return os << '{' << e.text << ", 0x" << std::hex << e.id << std::dec
                      << (e.keys.empty() ? "" : ", " + e.keys) << (e.enabled ? "" : ", disabled") << '}';
        }
    };

    const Entry separator { "---" };

    /** The items as the popup shows them; a command item's keys are those its manager maps to
        the command, which is where the popup takes the text beside the item from. */
    std::vector<Entry> entriesOf (const juce::PopupMenu& menu)
    {
        std::vector<Entry> entries;

        for (juce::PopupMenu::MenuItemIterator it (menu); it.next();)
        {
            const auto& item = it.getItem();

            if (item.isSeparator)
            {
                entries.push_back (separator);
                continue;
            }

            juce::StringArray keys;

            if (item.commandManager != nullptr)
                for (const auto& key : item.commandManager->getKeyMappings()->getKeyPressesAssignedToCommand (item.itemID))
                    keys.add (key.getTextDescriptionWithIcons());

            entries.push_back ({ item.text.toStdString(), item.itemID, keys.joinIntoString (", ").toStdString(), item.isEnabled });
        }

        return entries;
    }

    juce::String accessibleTitle (juce::Component& c)
    {
        auto* handler = c.getAccessibilityHandler();
        return handler != nullptr ? handler->getTitle() : juce::String();
    }

    /** The child whose accessible title is the text (the items of a menu bar and of a popup
        menu); null when there is none, or it has no place yet. */
    juce::Component* itemTitled (juce::Component& parent, const juce::String& text)
    {
        for (auto* child : parent.getChildren())
            if (! child->getBounds().isEmpty() && accessibleTitle (*child) == text)
                return child;

        return nullptr;
    }

    /** The open popup menu: the innermost modal component. */
    juce::Component* openPopupMenu()
    {
        auto& modal = *juce::ModalComponentManager::getInstance();

        if (modal.getNumModalComponents() == 0)
            return nullptr;

        auto* popup = modal.getModalComponent (0);
        return popup->isShowing() && popup->getPeer() != nullptr ? popup : nullptr;
    }

    /** Waits until the X server has carried out everything the framework asked of it. */
    void syncWithServer()
    {
        const juce::XWindowSystemUtilities::ScopedXLock lock;
        juce::X11Symbols::getInstance()->xSync (juce::XWindowSystem::getInstance()->getDisplay(), False);
    }

    ::Window nativeWindow (juce::Component& window)
    {
        return (::Window) (juce::pointer_sized_uint) window.getPeer()->getNativeHandle();
    }

    /** Where the X server has the window now. */
    juce::Point<int> positionOnServer (juce::Component& window)
    {
        auto* x11 = juce::X11Symbols::getInstance();
        auto* display = juce::XWindowSystem::getInstance()->getDisplay();

        const juce::XWindowSystemUtilities::ScopedXLock lock;
        int x = 0, y = 0;
        ::Window child = 0;
        x11->xTranslateCoordinates (display, nativeWindow (window), x11->xDefaultRootWindow (display), 0, 0, &x, &y, &child);
        return { x, y };
    }

    /** Waits until the window has the keyboard and the framework knows where the window is, so
        that the mouse finds what the framework has drawn where it believes it is. */
    bool settle (juce::Component& window)
    {
        return pumpUntil ([&]
        {
            if (window.getPeer() == nullptr || ! window.getPeer()->isFocused())
                return false;

            syncWithServer();
            return positionOnServer (window) == window.getScreenPosition();
        });
    }

    /** Clicks the middle of the component with the mouse, through the X server, as a user does:
        the pointer moves onto the component's native window first. */
    bool click (juce::Component& c)
    {
        auto* top = c.getTopLevelComponent();

        if (top->getPeer() == nullptr)
            return false;

        syncWithServer();
        const auto centre = top->getLocalArea (&c, c.getLocalBounds()).getCentre();
        return runTool ({ "xdotool", "mousemove", "--window", juce::String ((juce::pointer_sized_uint) nativeWindow (*top)),
                          "--sync", juce::String (centre.x), juce::String (centre.y), "click", "1" });
    }

    /** An area of a window as the screen shows it now. */
    juce::Image grabScreen (juce::Component& window, juce::Rectangle<int> area)
    {
        auto* x11 = juce::X11Symbols::getInstance();
        auto* display = juce::XWindowSystem::getInstance()->getDisplay();

        const juce::XWindowSystemUtilities::ScopedXLock lock;
        auto* ximage = x11->xGetImage (display, nativeWindow (window), area.getX(), area.getY(),
                                       (unsigned int) area.getWidth(), (unsigned int) area.getHeight(), AllPlanes, ZPixmap);

        if (ximage == nullptr)
            return {};

        juce::Image image (juce::Image::RGB, area.getWidth(), area.getHeight(), false);

        for (int y = 0; y < area.getHeight(); ++y)
            for (int x = 0; x < area.getWidth(); ++x)
                image.setPixelAt (x, y, juce::Colour ((juce::uint32) (0xff000000 | XGetPixel (ximage, x, y))));

        x11->xDestroyImage (ximage);
        return image;
    }

    /** Whether the screen shows the area of the window as the window draws it. */
    bool screenShowsWindow (juce::Component& window, juce::Rectangle<int> area)
    {
        // Drawn whole: images drawn scaled come out differently at the edge of a smaller area.
        const auto drawn = window.createComponentSnapshot (window.getLocalBounds(), true, 1.0f).getClippedImage (area);
        const auto shown = grabScreen (window, area);

        if (shown.isNull() || shown.getBounds() != drawn.getBounds())
            return false;

        for (int y = 0; y < shown.getHeight(); ++y)
            for (int x = 0; x < shown.getWidth(); ++x)
                if (shown.getPixelAt (x, y) != drawn.getPixelAt (x, y).withAlpha ((juce::uint8) 0xff))
                    return false;

        return true;
    }

    /** How long a popup menu ignores the release of a mouse button after it is made
        (PopupMenu's MouseSourceState::checkButtonState). */
    constexpr juce::uint32 popupIgnoresReleasesForMs = 250;

    class MenuTest : public testing::Test
    {
    protected:
        void SetUp() override
        {
            // The framework's own folder dialog, whether or not zenity or kdialog are installed.
            writeScript (tools.file ("which"), "#!/bin/sh\ncase \"$1\" in zenity|kdialog) exit 1 ;; esac\nexec /usr/bin/which \"$@\"\n");
            const auto path = tools.get().getFullPathName() + ":" + juce::SystemStats::getEnvironmentVariable ("PATH", "/usr/bin:/bin");
            setenv ("PATH", path.toRawUTF8(), 1);

            juce::JUCEApplicationBase::createInstance = &noFactory;
            app = std::make_unique<KorvelQuillonApplication>();
        }

        void TearDown() override
        {
            app->shutdown();
            app.reset();
        }

        void startUp()
        {
            app->initialise ({});
            ASSERT_NE (app->getMainWindow(), nullptr);
            ASSERT_NE (app->getMainWindow()->getMenuBarComponent(), nullptr);
            ASSERT_TRUE (settle (*app->getMainWindow()));
        }

        std::vector<Entry> menuNamed (const juce::String& name, int index = 0)
        {
            return entriesOf (app->getMenuModel()->getMenuForIndex (index, name));
        }

        /** Chooses an item of the window's menu bar with the mouse: a click on the menu's name,
            then on the item in the popup. */
        void choose (const juce::String& menuName, const juce::String& itemText)
        {
            auto& bar = *app->getMainWindow()->getMenuBarComponent();
            juce::Component* menu = nullptr;
            ASSERT_TRUE (pumpUntil ([&] { return (menu = itemTitled (bar, menuName)) != nullptr; }));
            ASSERT_TRUE (click (*menu));

            // The framework takes a release within 250 ms of a popup's making for the end of the
            // press that opened it, and ignores it; a user's click comes later than that. Each
            // popup is timed from when it is first seen, which is no sooner than it was made.
            juce::Component::SafePointer<juce::Component> timedPopup;
            juce::uint32 firstSeen = 0;
            juce::Component* item = nullptr;

            const auto itemTakesAClick = [&]
            {
                auto* popup = openPopupMenu();
                item = popup != nullptr ? itemTitled (*popup, itemText) : nullptr;

                if (item == nullptr)
                    return false;

                if (popup != timedPopup.getComponent())
                {
                    timedPopup = popup;
                    firstSeen = juce::Time::getMillisecondCounter();
                }

                return juce::Time::getMillisecondCounter() > firstSeen + popupIgnoresReleasesForMs;
            };

            ASSERT_TRUE (pumpUntil (itemTakesAClick))
                << "no item \"" << itemText << "\" in the open menu \"" << menuName << '"';

            popupArea = item->getParentComponent()->getBounds();
            ASSERT_TRUE (click (*item));
        }

        static bool quitting() { return juce::MessageManager::getInstance()->hasStopMessageBeenSent(); }

        TemporaryFolder tools;
        std::unique_ptr<KorvelQuillonApplication> app;
        juce::Rectangle<int> popupArea;   // on the screen: where the last menu opened
    };
}

//==============================================================================
TEST_F (MenuTest, TheWindowsMenuBarReadsFileWindowHelp)
{
    ASSERT_NO_FATAL_FAILURE (startUp());

    auto& bar = *app->getMainWindow()->getMenuBarComponent();
    EXPECT_EQ (app->getMenuModel()->getMenuBarNames(), juce::StringArray ({ "File", "Window", "Help" }));
    ASSERT_TRUE (pumpUntil ([&] { return itemTitled (bar, "Help") != nullptr; }));

    juce::StringArray shown;
    int lastX = -1;

    for (auto* item : bar.getChildren())
    {
        EXPECT_GT (item->getX(), lastX) << "left to right";
        lastX = item->getX();
        shown.add (accessibleTitle (*item));
    }

    EXPECT_EQ (shown, juce::StringArray ({ "File", "Window", "Help" }));
}

TEST_F (MenuTest, EachMenuHoldsTheApplicationsCommandsWithTheirKeys)
{
    ASSERT_NO_FATAL_FAILURE (startUp());

    const Entry convert { "Convert", CommandIDs::convert };
    const Entry quit { "Quit", CommandIDs::quit, "ctrl + Q" };
    const Entry minimize { "Minimize", CommandIDs::minimize, "ctrl + M" };
    const Entry bringToFront { "Bring to Front", CommandIDs::bringToFront };
    const Entry userGuide { "Open User Guide", CommandIDs::openUserGuide };
    const Entry about { "About", CommandIDs::about };

    const std::vector<std::pair<const char*, std::vector<Entry>>> cases {
        { "File",   { convert, separator, quit } },
        { "Window", { minimize, bringToFront, separator } },
        { "Help",   { userGuide, about } },
        // Names are matched exactly.
        { "file",   {} },
        { "WINDOW", {} },
        { "help",   {} },
        { "Help ",  {} },
        { "Edit",   {} },
        { "",       {} },
    };

    for (const auto& [name, expected] : cases)
    {
        // The index plays no part.
        for (int index = -1; index < 4; ++index)
            EXPECT_EQ (menuNamed (name, index), expected) << "menu \"" << name << "\" at index " << index;
    }
}

TEST_F (MenuTest, ItemsFollowTheApplicationsActiveFlags)
{
    // Before the main window exists, Convert and Minimize are inactive.
    juce::ApplicationCommandManager manager;
    manager.registerAllCommandsForTarget (app.get());
    manager.setFirstCommandTarget (app.get());

    {
        MainMenuModel model (&manager);

        EXPECT_EQ (entriesOf (model.getMenuForIndex (0, "File")),
                   (std::vector<Entry> { { "Convert", CommandIDs::convert, "", false }, separator,
                                         { "Quit", CommandIDs::quit, "ctrl + Q" } }));
        EXPECT_EQ (entriesOf (model.getMenuForIndex (0, "Window")),
                   (std::vector<Entry> { { "Minimize", CommandIDs::minimize, "ctrl + M", false },
                                         { "Bring to Front", CommandIDs::bringToFront },
                                         separator }));
    }

    manager.setFirstCommandTarget (nullptr);

    ASSERT_NO_FATAL_FAILURE (startUp());

    for (const auto& name : app->getMenuModel()->getMenuBarNames())
        for (const auto& entry : menuNamed (name))
            EXPECT_TRUE (entry.enabled) << entry;
}

TEST_F (MenuTest, TheModelWatchesTheCommandManager)
{
    ASSERT_NO_FATAL_FAILURE (startUp());

    struct BarListener : juce::MenuBarModel::Listener
    {
        void menuBarItemsChanged (juce::MenuBarModel*) override { ++changes; }
        void menuCommandInvoked (juce::MenuBarModel*, const juce::ApplicationCommandTarget::InvocationInfo&) override {}
        int changes = 0;
    } listener;

    auto& model = *app->getMenuModel();
    model.addListener (&listener);
    app->getCommandManager()->commandStatusChanged();
    EXPECT_TRUE (pumpUntil ([&] { return listener.changes > 0; })) << "a change of the commands rebuilds the menus";
    model.removeListener (&listener);
}

TEST (MenuModel, MenusOfUnregisteredCommandsAreEmpty)
{
    juce::ApplicationCommandManager manager;
    MainMenuModel model (&manager);

    for (const auto& name : model.getMenuBarNames())
        EXPECT_TRUE (entriesOf (model.getMenuForIndex (0, name)).empty())
            << "menu \"" << name << "\" holds no item, and no lone separator";

    EXPECT_TRUE (entriesOf (MainMenuModel::getAppleMenu (&manager)).empty());
}

TEST_F (MenuTest, TheAppleMenuHoldsAbout)
{
    ASSERT_NO_FATAL_FAILURE (startUp());

    EXPECT_EQ (entriesOf (MainMenuModel::getAppleMenu (app->getCommandManager())),
               (std::vector<Entry> { { "About", CommandIDs::about } }));
}

TEST_F (MenuTest, TheModelNeverDeletesTheManager)
{
    juce::ApplicationCommandManager manager;
    manager.registerAllCommandsForTarget (app.get());

    {
        MainMenuModel temporary (&manager);
        EXPECT_FALSE (entriesOf (temporary.getMenuForIndex (0, "File")).empty());
    }

    // Still usable after the model has gone.
    EXPECT_NE (manager.getCommandForID (CommandIDs::convert), nullptr);
    EXPECT_EQ (manager.getNumCommands(), 6);
}

//==============================================================================
// The menu bar in the window, driven with the mouse.

TEST_F (MenuTest, FileConvertAsksForTheOutputFolder)
{
    ASSERT_NO_FATAL_FAILURE (startUp());
    TemporaryFolder samples;
    const auto sample = samples.file ("kick.wav");
    ASSERT_TRUE (quillon::test::writeAudioFile (sample, quillon::test::makeSine (1, 4410, 44100.0, 440.0), 44100.0));
    app->getFileQueue()->addFile (sample);

    juce::String title;

    WhenReady cancel ([&]
    {
        auto* box = findOnDesktop<juce::FileChooserDialogBox>();

        if (box == nullptr || ! box->isCurrentlyModal())
            return false;

        title = box->getName();
        findButton (*box, "Cancel")->triggerClick();
        return true;
    });

    ASSERT_NO_FATAL_FAILURE (choose ("File", "Convert"));
    ASSERT_TRUE (pumpUntil ([&] { return cancel.done() && app->getFolderChooser() == nullptr; }));

    EXPECT_EQ (title, "Choose output folder");
    EXPECT_FALSE (app->getController()->isConverting());
    EXPECT_EQ (app->getFileQueue()->size(), 1);
}

TEST_F (MenuTest, HelpAboutShowsTheAboutWindow)
{
    ASSERT_NO_FATAL_FAILURE (startUp());
    ASSERT_EQ (app->getAboutWindow(), nullptr);

    ASSERT_NO_FATAL_FAILURE (choose ("Help", "About"));
    EXPECT_TRUE (pumpUntil ([&]
    {
        auto* about = app->getAboutWindow();
        return about != nullptr && about->isOnDesktop() && about->isVisible();
    }));
}

TEST_F (MenuTest, FileQuitQuits)
{
    ASSERT_NO_FATAL_FAILURE (startUp());
    ASSERT_FALSE (quitting());

    ASSERT_NO_FATAL_FAILURE (choose ("File", "Quit"));
    EXPECT_TRUE (pumpUntil ([] { return quitting(); }));
}

TEST_F (MenuTest, CtrlQQuits)
{
    ASSERT_NO_FATAL_FAILURE (startUp());
    ASSERT_FALSE (quitting());

    syncWithServer();
    ASSERT_TRUE (runTool ({ "xdotool", "key", "ctrl+q" }));
    EXPECT_TRUE (pumpUntil ([] { return quitting(); }));
}

// Once the guide has been handed to the desktop, the window shows again what the menu covered,
// without waiting for the mouse to move.
TEST_F (MenuTest, HelpOpenUserGuideLeavesNoMenuOnTheScreen)
{
    const auto guide = KorvelQuillonApplication::getUserGuideFile();
    const bool madeFolder = ! guide.getParentDirectory().exists();
    ASSERT_TRUE (guide.getParentDirectory().createDirectory());
    ASSERT_TRUE (guide.replaceWithText ("%PDF-1.4\n"));

    const auto opened = tools.file ("opened");
    writeScript (tools.file ("xdg-open"), "#!/bin/sh\nprintf '%s' \"$1\" > '" + opened.getFullPathName() + "'\n");

    ASSERT_NO_FATAL_FAILURE (startUp());
    auto& window = *app->getMainWindow();
    ASSERT_TRUE (pumpUntil ([&] { return screenShowsWindow (window, window.getLocalBounds()); }));

    ASSERT_NO_FATAL_FAILURE (choose ("Help", "Open User Guide"));
    ASSERT_TRUE (pumpUntil ([&] { return opened.loadFileAsString() == guide.getFullPathName(); }));

    const auto covered = window.getLocalArea (nullptr, popupArea).getIntersection (window.getLocalBounds());
    ASSERT_FALSE (covered.isEmpty());
    EXPECT_TRUE (pumpUntil ([&] { return screenShowsWindow (window, covered); }))
        << "the menu stays painted over the window";

    guide.deleteFile();

    if (madeFolder)
        guide.getParentDirectory().deleteRecursively();
}
