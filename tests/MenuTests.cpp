#include "support/TestSupport.h"
#include "ui/CommandIDs.h"
#include "ui/MainMenuModel.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using quillon::test::pumpUntil;

namespace
{
    // Stands in for the application object: the six commands, Convert and Minimize active only
    // while "a main window exists".
    struct TestCommands : juce::ApplicationCommandTarget
    {
        juce::ApplicationCommandTarget* getNextCommandTarget() override { return nullptr; }

        void getAllCommands (juce::Array<juce::CommandID>& commands) override
        {
            commands.addArray ({ CommandIDs::convert, CommandIDs::about, CommandIDs::minimize,
                                 CommandIDs::bringToFront, CommandIDs::openUserGuide, CommandIDs::quit });
        }

        void getCommandInfo (juce::CommandID id, juce::ApplicationCommandInfo& info) override
        {
            const auto set = [&] (const char* name, bool active)
            {
                info.setInfo (name, {}, "General", 0);
                info.setActive (active);
            };

            switch (id)
            {
                case CommandIDs::convert:       set ("Convert", hasMainWindow); break;
                case CommandIDs::about:         set ("About", true); break;
                case CommandIDs::minimize:      set ("Minimize", hasMainWindow);
                                                info.addDefaultKeypress ('m', juce::ModifierKeys::commandModifier); break;
                case CommandIDs::bringToFront:  set ("Bring to Front", true); break;
                case CommandIDs::openUserGuide: set ("Open User Guide", true); break;
                case CommandIDs::quit:          set ("Quit", true);
                                                info.addDefaultKeypress ('q', juce::ModifierKeys::commandModifier); break;
                default: break;
            }
        }

        bool perform (const InvocationInfo& info) override
        {
            performed.push_back (info.commandID);
            return true;
        }

        bool hasMainWindow = true;
        std::vector<juce::CommandID> performed;
    };

    struct Entry
    {
        std::string text;          // "---" for a separator
        juce::CommandID id = 0;
        bool enabled = true;

        bool operator== (const Entry& other) const
        {
            return text == other.text && id == other.id && enabled == other.enabled;
        }

        friend std::ostream& operator<< (std::ostream& os, const Entry& e)
        {
            return os << '{' << e.text << ", 0x" << std::hex << e.id << std::dec
                      << (e.enabled ? "" : ", disabled") << '}';
        }
    };

    const Entry separator { "---", 0, true };

    std::vector<Entry> entriesOf (const juce::PopupMenu& menu)
    {
        std::vector<Entry> entries;

        for (juce::PopupMenu::MenuItemIterator it (menu); it.next();)
        {
            const auto& item = it.getItem();

            if (item.isSeparator)
                entries.push_back (separator);
            else
                entries.push_back ({ item.text.toStdString(), item.itemID, item.isEnabled });
        }

        return entries;
    }

    class MenuModelTest : public testing::Test
    {
    protected:
        MenuModelTest()
        {
            manager.registerAllCommandsForTarget (&commands);
            manager.setFirstCommandTarget (&commands);
        }

        ~MenuModelTest() override
        {
            manager.setFirstCommandTarget (nullptr);
        }

        std::vector<Entry> menuNamed (const juce::String& name)
        {
            return entriesOf (model.getMenuForIndex (0, name));
        }

        TestCommands commands;
        juce::ApplicationCommandManager manager;
        MainMenuModel model { &manager };
    };
}

TEST_F (MenuModelTest, MenuBarReadsFileWindowHelp)
{
    const juce::StringArray expected { "File", "Window", "Help" };
    EXPECT_EQ (model.getMenuBarNames(), expected);
}

TEST_F (MenuModelTest, EachMenuHoldsItsCommandsInOrder)
{
    const Entry convert { "Convert", CommandIDs::convert };
    const Entry minimize { "Minimize", CommandIDs::minimize };
    const Entry bringToFront { "Bring to Front", CommandIDs::bringToFront };
    const Entry userGuide { "Open User Guide", CommandIDs::openUserGuide };
    const Entry about { "About", CommandIDs::about };

    const std::vector<std::pair<const char*, std::vector<Entry>>> cases {
        { "File",   { convert } },
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
        EXPECT_EQ (menuNamed (name), expected) << "menu \"" << name << '"';

        // The index plays no part.
        for (int index = -1; index < 4; ++index)
            EXPECT_EQ (entriesOf (model.getMenuForIndex (index, name)), expected)
                << "menu \"" << name << "\" at index " << index;
    }
}

TEST_F (MenuModelTest, ItemsFollowTheCommandsActiveFlags)
{
    commands.hasMainWindow = false;

    EXPECT_EQ (menuNamed ("File"), (std::vector<Entry> { { "Convert", CommandIDs::convert, false } }));
    EXPECT_EQ (menuNamed ("Window"), (std::vector<Entry> { { "Minimize", CommandIDs::minimize, false },
                                                           { "Bring to Front", CommandIDs::bringToFront, true },
                                                           separator }));

    commands.hasMainWindow = true;
    EXPECT_TRUE (menuNamed ("File").front().enabled);
    EXPECT_TRUE (menuNamed ("Window").front().enabled);
}

TEST_F (MenuModelTest, ModelWatchesTheCommandManager)
{
    struct BarListener : juce::MenuBarModel::Listener
    {
        void menuBarItemsChanged (juce::MenuBarModel*) override { ++changes; }
        void menuCommandInvoked (juce::MenuBarModel*, const juce::ApplicationCommandTarget::InvocationInfo&) override {}
        int changes = 0;
    } listener;

    model.addListener (&listener);
    manager.commandStatusChanged();
    EXPECT_TRUE (pumpUntil ([&] { return listener.changes > 0; }, 2000))
        << "a change of the commands rebuilds the menus";
    model.removeListener (&listener);
}

// Through the menu bar inside a window, as on Linux: the chosen item's command runs once.
TEST_F (MenuModelTest, ChoosingAnItemPerformsItsCommandOnce)
{
    juce::DocumentWindow window ("menu test", juce::Colours::grey, juce::DocumentWindow::allButtons);
    window.setMenuBar (&model);
    window.centreWithSize (400, 300);
    window.setVisible (true);

    auto* bar = dynamic_cast<juce::MenuBarComponent*> (window.getMenuBarComponent());
    ASSERT_NE (bar, nullptr);
    bar->showMenu (1);   // "Window"

    auto& modal = *juce::ModalComponentManager::getInstance();
    ASSERT_TRUE (pumpUntil ([&] { return modal.getNumModalComponents() > 0; }, 2000));

    auto* popup = modal.getModalComponent (0);
    popup->keyPressed (juce::KeyPress (juce::KeyPress::downKey));    // "Minimize"
    popup->keyPressed (juce::KeyPress (juce::KeyPress::returnKey));

    EXPECT_TRUE (pumpUntil ([&] { return ! commands.performed.empty(); }, 2000));
    quillon::test::pumpFor (100);
    EXPECT_EQ (commands.performed, std::vector<juce::CommandID> { CommandIDs::minimize });

    window.setMenuBar (nullptr);
}

TEST (MenuModel, MenusOfUnregisteredCommandsAreEmpty)
{
    juce::ApplicationCommandManager manager;
    MainMenuModel model (&manager);

    for (const auto& name : model.getMenuBarNames())
        EXPECT_TRUE (entriesOf (model.getMenuForIndex (0, name)).empty())
            << "menu \"" << name << "\" holds no item, and \"Window\" no lone separator";

    EXPECT_TRUE (entriesOf (MainMenuModel::getAppleMenu (&manager)).empty());
}

TEST_F (MenuModelTest, AppleMenuHoldsAbout)
{
    EXPECT_EQ (entriesOf (MainMenuModel::getAppleMenu (&manager)),
               (std::vector<Entry> { { "About", CommandIDs::about } }));
}

TEST_F (MenuModelTest, ModelNeverDeletesTheManager)
{
    juce::ApplicationCommandManager other;
    other.registerAllCommandsForTarget (&commands);

    {
        MainMenuModel temporary (&other);
        EXPECT_FALSE (entriesOf (temporary.getMenuForIndex (0, "File")).empty());
    }

    // Still usable after the model has gone.
    EXPECT_NE (other.getCommandForID (CommandIDs::convert), nullptr);
    EXPECT_EQ (other.getNumCommands(), 6);
}
