#pragma once

#include "engine/ConverterController.h"
#include "ui/CustomLook.h"
#include "ui/MainWindowComponent.h"

#include <juce_gui_basics/juce_gui_basics.h>

#include <memory>

/** The application's main window: fixed at 420 x 720 with the system's title bar, minimise and
    close buttons, showing the main window component as its whole content and drawn with
    CustomLook.

    Key presses that no child consumes go to the command manager's key mappings. The close
    button asks the application to quit; destroying the window stops a run in progress. */
class MainWindow : public juce::DocumentWindow,
                   public juce::ReferenceCountedObject
{
public:
    using Ptr = juce::ReferenceCountedObjectPtr<MainWindow>;

    static constexpr int contentWidth = 420;
    static constexpr int contentHeight = 720;

    /** Shows the window centred on the main display. The command manager must outlive the
        window. A menu model, when given, gets a menu bar above the content, which keeps its
        size; the model must outlive the window as well. */
    MainWindow (MainWindowComponent::Ptr windowContent,
                ConverterController::Ptr converterController,
                juce::ApplicationCommandManager* commands,
                juce::MenuBarModel* menuModel = nullptr);
    ~MainWindow() override;

    void closeButtonPressed() override;

private:
    class NativePlacement;

    juce::ApplicationCommandManager* commandManager;
    MainWindowComponent::Ptr content;
    ConverterController::Ptr controller;
    CustomLook look;
    std::unique_ptr<NativePlacement> nativePlacement;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (MainWindow)
};
