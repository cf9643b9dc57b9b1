#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

/** The menu bar: "File", "Window" and "Help", every item a command of the application's command
    manager. The model performs nothing itself; the manager hands each chosen item to the
    application. Where there is no application menu (everywhere but macOS), its two items live
    in these menus: Quit last in "File", About in "Help". */
class MainMenuModel : public juce::MenuBarModel
{
public:
    /** Refers to the manager (never deletes it) and watches it, so the menus follow the
        commands' active flags. The manager must outlive the model. */
    explicit MainMenuModel (juce::ApplicationCommandManager* managerToWatch);
    ~MainMenuModel() override;

    juce::StringArray getMenuBarNames() override;
    juce::PopupMenu getMenuForIndex (int topLevelMenuIndex, const juce::String& menuName) override;
    void menuItemSelected (int menuItemID, int topLevelMenuIndex) override;

    /** Adds the items of the named menu; an unknown name (names are case-sensitive) adds none. */
    void createMenu (juce::PopupMenu& menu, const juce::String& menuName);
    void createWindowMenu (juce::PopupMenu& menu);

    /** The extra item of the macOS application menu: "About". */
    static juce::PopupMenu getAppleMenu (juce::ApplicationCommandManager* manager);

private:
    juce::OptionalScopedPointer<juce::ApplicationCommandManager> commandManager;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (MainMenuModel)
};
