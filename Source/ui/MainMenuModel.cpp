#include "ui/MainMenuModel.h"

#include "ui/CommandIDs.h"

MainMenuModel::MainMenuModel (juce::ApplicationCommandManager* managerToWatch)
    : commandManager (managerToWatch, false)
{
    setApplicationCommandManagerToWatch (commandManager.get());
}

MainMenuModel::~MainMenuModel() = default;

juce::StringArray MainMenuModel::getMenuBarNames()
{
    return { "File", "Window", "Help" };
}

juce::PopupMenu MainMenuModel::getMenuForIndex (int, const juce::String& menuName)
{
    juce::PopupMenu menu;
    createMenu (menu, menuName);
    return menu;
}

void MainMenuModel::menuItemSelected (int, int)
{
    // Every item is a command: the command manager has already invoked it.
}

void MainMenuModel::createMenu (juce::PopupMenu& menu, const juce::String& menuName)
{
    if (menuName == "File")
    {
        menu.addCommandItem (commandManager.get(), CommandIDs::convert);

       #if ! JUCE_MAC
        // Without an application menu, Quit lives here, last, with its key beside it.
        menu.addSeparator();
        menu.addCommandItem (commandManager.get(), CommandIDs::quit);
       #endif
    }
    else if (menuName == "Help")
    {
        menu.addCommandItem (commandManager.get(), CommandIDs::openUserGuide);

       #if ! JUCE_MAC
        // Without an application menu, About lives here.
        menu.addCommandItem (commandManager.get(), CommandIDs::about);
       #endif
    }
    else if (menuName == "Window")
    {
        createWindowMenu (menu);
    }
}

void MainMenuModel::createWindowMenu (juce::PopupMenu& menu)
{
    menu.addCommandItem (commandManager.get(), CommandIDs::minimize);
    menu.addCommandItem (commandManager.get(), CommandIDs::bringToFront);
    menu.addSeparator();
}

juce::PopupMenu MainMenuModel::getAppleMenu (juce::ApplicationCommandManager* manager)
{
    juce::PopupMenu menu;
    menu.addCommandItem (manager, CommandIDs::about);
    return menu;
}
